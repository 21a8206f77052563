' A VB-style host: the control by ProgID, properties, a basic payment with its events, by-
' reference arguments, an extended status request.  Arguments: the payment simulator's COM port,
' the extended simulator's.  Prints "passed" last; any failure quits with 1.
Sub Check(ok, what)
    If Not ok Then WScript.Echo "FAILED: " & what : WScript.Quit 1
End Sub

Class Handler
    Public Log
    Sub ReceivedEvent() : Log = Log & " received" : End Sub
    Sub ErrorEvent(errType) : Log = Log & " error:" & errType : errType = "seen" : End Sub
End Class

Set o = CreateObject("KorvelCom.KorvelComTools")
Set h = New Handler
CreateObject("KorvelComTest.Events").Connect o, h

o.POSAmount = "12"                                    ' refused: eight digits
Check o.ReceiveError = "seen", "ErrorEvent's argument changed by the handler"

o.CommPort = CInt(WScript.Arguments(0))
o.CommSettings = "9600,n,8,1"
o.POSAmount = "00001500"
o.POSTimeout = 5000
reply = o.POSMessage
Check o.EFTposAmount = "00001500" And Len(reply) > 0, "payment: " & reply & " " & o.ReceiveError
Check h.Log = " error:errorPOSAmountLength received", "events:" & h.Log
o.CommClose

Dim s, e
s = 0 : e = 100
sum = o.cCHECKSUMbuffer(Array(65, 66, 67), s, e)      ' numbers stand for bytes
Check sum = 198 And s = 0 And e = 2, "by reference: " & sum & " " & s & " " & e

o.CommPort = CInt(WScript.Arguments(1))
status = o.POSAutoStatusRequest()
Check status = "011400100" And o.POSAutoStatusEFT = "00100", "status request: " & status & " " & o.ReceiveError
o.CommClose

On Error Resume Next
x = o.POSAutoCode(-1)
Check Err.Number <> 0 And InStr(Err.Description, "POSAutoCode") > 0, "failed call: " & Err.Description
On Error GoTo 0
WScript.Echo "passed"
