// A script host without by-reference strings: the control by ProgID, a basic payment, a checksum
// with JScript's numbers (the status request and a failed call are pay.vbs's).  Arguments as
// pay.vbs; prints "passed" last.
function check(ok, what) {
    if (!ok) { WScript.Echo("FAILED: " + what); WScript.Quit(1); }
}
var o = new ActiveXObject("KorvelCom.KorvelComTools");
o.CommPort = parseInt(WScript.Arguments(0), 10);
o.CommSettings = "9600,n,8,1";
o.POSAmount = "00002500";
var reply = o.POSMessage();
check(o.EFTposAmount == "00002500" && reply.length > 0, "payment: " + reply + " " + o.ReceiveError);
o.CommClose();
check(o.cLRC8str("AB", 1, 2) == (65 ^ 66), "checksum");
WScript.Echo("passed");
