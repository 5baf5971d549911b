"""The launcher against a main application that misbehaves: one that closes without reading,
resets the connection after reading, trickles or floods its reply, or reads slowly. Written once
for the Linux host launcher and for the Windows executable under Wine; a test class mixes these
cases into a unittest.TestCase that provides
  LINE_END                      what ends each relayed chunk on standard output
  serve(behaviour, **settings)  the stand-in, started with STAND_IN_BEHAVIOUR, once it listens
  launch(arguments)             a finished harness.Run of the launcher
  received_request()            the bytes the stand-in received."""

import harness

DOCUMENTS = ["C:\\Data\\1crn.pdb", "/data/with space/ligand \"A\".sdf"]
FLOOD_SIZE = 10 << 20


class MisbehavingPeerCases:
    def assert_served(self, stand_in):
        self.assertEqual(stand_in.wait(timeout=60), 0, "the stand-in did not serve as configured")

    def assert_relayed(self, run, reply):
        chunks = run.stdout.split(self.LINE_END)
        self.assertEqual(chunks[-1], b"", "every chunk is followed by a line end")
        self.assertEqual(b"".join(chunks), reply)
        self.assertTrue(all(0 < len(chunk) <= 512 for chunk in chunks[:-1]),
                        sorted({len(chunk) for chunk in chunks}))

    def test_a_peer_that_closes_without_reading(self):
        # The short request fits the socket's send buffer: the one send succeeds before the peer
        # can refuse anything, and its close (or the reset our data then draws) only ends the
        # reply, which is empty. So the launch counts as delivered, although nothing read it.
        stand_in = self.serve("close-unread")
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual((run.stdout, run.stderr), (b"", b""))
        self.assert_served(stand_in)

    def test_a_peer_that_resets_the_connection_after_reading(self):
        stand_in = self.serve("reset-after-read")
        run = self.launch(DOCUMENTS)
        # The request was all sent and read; the reset only ends a reply that never came.
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual((run.stdout, run.stderr), (b"", b""))
        self.assertEqual(self.received_request(),
                         harness.expected_request([d.encode() for d in DOCUMENTS]))
        self.assert_served(stand_in)

    def test_a_reply_trickled_a_byte_at_a_time(self):
        reply = b"OK 2, one byte at a time"
        stand_in = self.serve("trickle", reply=reply.decode())
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assert_relayed(run, reply)
        self.assertEqual(run.stderr, b"")
        self.assert_served(stand_in)

    def test_a_reply_of_10_mib(self):
        # 36 bytes over and over: the 512-byte chunks cut the pattern at every offset.
        pattern = b"0123456789abcdefghijklmnopqrstuvwxyz"
        stand_in = self.serve("flood", reply=pattern.decode())
        run = self.launch(DOCUMENTS)
        self.assertEqual(run.status, 0, run.stderr)
        self.assert_relayed(run, (pattern * (FLOOD_SIZE // len(pattern) + 1))[:FLOOD_SIZE])
        self.assertEqual(run.stderr, b"")
        self.assert_served(stand_in)

    def test_a_slow_reader_gets_a_long_request_whole(self):
        arguments = ["C:\\" + "d\\" * 4000, "/srv/" + "x" * 9990, "y/" * 5000]
        request = harness.expected_request([a.encode() for a in arguments])
        self.assertGreater(len(request), 30000)
        stand_in = self.serve("slow-read")
        run = self.launch(arguments)
        self.assertEqual(run.status, 0, run.stderr)
        self.assertEqual(self.received_request(), request)
        self.assertEqual((run.stdout, run.stderr), (b"OK 3" + self.LINE_END, b""))
        self.assert_served(stand_in)
