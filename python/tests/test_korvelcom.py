"""The Python module against the library: values, events, failures, introspection, and a basic
payment and an extended operation against the simulator on a pseudo-terminal."""
import os
import subprocess
import unittest

import korvelcom

TOOL = os.environ.get("KORVELCOM_TOOL", "korvelcom")


class Simulator:
    """`korvelcom sim --pty` with a responder, mapped to port `port` while it runs."""

    def __init__(self, responder, port):
        self.proc = subprocess.Popen([TOOL, "sim", "--pty", "--quiet", "--responder", responder],
                                     stdout=subprocess.PIPE, text=True)
        self.device = self.proc.stdout.readline().strip()
        korvelcom.port_map_set(port, self.device)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


class ModuleTest(unittest.TestCase):
    def test_payment_and_extended_operation_with_events(self):
        seen = []
        with Simulator("payment", 5) as sim, korvelcom.Control() as c:
            self.assertTrue(sim.device.startswith("/dev/"))
            self.assertEqual(korvelcom.port_map_lookup(5), sim.device)
            c.ReceivedEvent = lambda: seen.append("received")
            c.CommPort = 5
            c.POSAmount = "00002500"
            self.assertNotEqual(c.POSMessage(), "")
            self.assertEqual((c.EFTposAmount, c.EFTposStat, seen), ("00002500", "0", ["received"]))
        with Simulator("extended", 6), korvelcom.Control() as c:
            c.CommPort = 6
            reply = c.POSAutoStatusRequest()
            self.assertEqual((reply[2:], c.POSAutoStatusEFT, c.ReceiveError), ("1400100", "00100", ""))

    def test_values_write_back_failures_and_error_event(self):
        with korvelcom.Control() as c:
            every = "".join(map(chr, range(256)))
            c.ReceiveMessage = every
            self.assertEqual(c.ReceiveMessage, every)
            # Written-back arguments come after the result; omitted ones take their defaults.
            self.assertEqual(c.cLRC8buffer(korvelcom.Bytes(1, b"abc"), 0, 99), (96, 1, 3))
            self.assertEqual(c.TwipsToPixel(1500, 30), (100, 2))
            result, args = c.GetCommandLine()
            self.assertEqual((result, args.lbound, args.items[0]), (args, 0, ""))
            tags = []
            c.ErrorEnabled = True
            c.ErrorEvent = lambda tag: tags.append(tag) or "handled"
            c.POSAmount = "12"
            self.assertEqual((tags, c.ReceiveError), (["errorPOSAmountLength"], "handled"))
            with self.assertRaises(korvelcom.KorvelComError) as refused:
                c.CommPort = "x"
            self.assertEqual((refused.exception.status, refused.exception.tag), (2, "handled"))
            with self.assertRaises(korvelcom.KorvelComError):
                c.POSAutoCode(-1)
            with self.assertRaises(AttributeError):
                c.NoSuchMember = 1

    def test_introspection_and_help(self):
        table = {(m.name, m.kind): m for m in korvelcom.members()}
        init = table[("CommInit", korvelcom.METHOD)]
        self.assertEqual((init.dispatch_id, init.params[1][0], init.params[1][5]),
                         (5, "strSettings", ""))
        self.assertIn("ArgArray: Array (written back)", korvelcom.Control.GetCommandLine.__doc__)
        self.assertIn("read-write", korvelcom.Control.POSAmount.__doc__)
        self.assertEqual(korvelcom.version(), "3.0.0")
        # The checked-in type hints are what the table gives.
        from korvelcom.__main__ import stub
        with open(os.path.join(os.path.dirname(korvelcom.__file__), "__init__.pyi")) as f:
            self.assertEqual(f.read(), stub(), "regenerate with: python3 -m korvelcom stub")


if __name__ == "__main__":
    unittest.main()
