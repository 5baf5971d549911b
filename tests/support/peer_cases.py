"""The launcher against a main application that misbehaves: one that closes without reading,
resets the connection after reading, trickles or floods its reply, or reads slowly; and the
stand-in against clients that misbehave ahead of a launcher. Written once for the Linux host
launcher and for the Windows executable under Wine; a test class mixes these cases into a
unittest.TestCase that provides
  LINE_END                      what ends each relayed chunk on standard output
  serve(behaviour, **settings)  the stand-in, started with STAND_IN_BEHAVIOUR, once it listens
  launch(arguments, timeout)    a finished harness.Run of the launcher
  received_request()            the bytes the stand-in received
  received_arguments()          the arguments it decoded."""

import socket
import struct
import subprocess
import threading

import harness

DOCUMENTS = ["C:\\Data\\1crn.pdb", "/data/with space/ligand \"A\".sdf"]
FLOOD_SIZE = 10 << 20
# The stand-in serves so many connections at once; the others wait in the listener's queue.
CONNECTIONS_AT_ONCE = 4


def exchange(request):
    """What the stand-in answers a client that sends `request`, read until it closes."""
    with socket.create_connection(("127.0.0.1", harness.PORT)) as client:
        client.settimeout(30)
        client.sendall(request)
        return harness.reply_to(client)


def trickle_an_endless_request(connection, stop):
    """Sends the beginning of a request, then a byte a second, until `stop` is set or the peer
    hangs up: never a whole request, and never silent for long."""
    try:
        connection.sendall(b'["')
        while not stop.wait(1):
            connection.sendall(b"x")
    except OSError:
        pass


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

    def test_stalled_clients_a_reset_and_a_half_closed_client_do_not_stop_the_serving(self):
        stand_in = self.serve("answer", requests=10)  # more than come: it must still be serving
        # Trickling clients take every place the stand-in has and must be given up on. Meanwhile
        # one client resets its connection while it waits in the backlog, which fails its accept
        # on Windows (on Linux, accept returns it and the first read fails), and one sends a
        # request and closes its side: when its turn comes it is refused unread, as no launcher
        # closes before it has the reply.
        stop = threading.Event()
        for _ in range(CONNECTIONS_AT_ONCE):
            stalled = socket.create_connection(("127.0.0.1", harness.PORT))
            self.addCleanup(stalled.close)
            trickler = threading.Thread(target=trickle_an_endless_request, args=(stalled, stop))
            trickler.start()
            self.addCleanup(trickler.join)
        self.addCleanup(stop.set)
        with socket.create_connection(("127.0.0.1", harness.PORT)) as reset:
            reset.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        half_closed = socket.create_connection(("127.0.0.1", harness.PORT))
        self.addCleanup(half_closed.close)
        half_closed.sendall(harness.expected_request([b"closed its side"]))
        half_closed.shutdown(socket.SHUT_WR)
        try:
            run = self.launch(DOCUMENTS, timeout=60)
        except subprocess.TimeoutExpired:
            self.fail("the launcher behind the stalled clients was never answered")
        self.assertEqual((run.status, run.stdout, run.stderr), (0, b"OK 2" + self.LINE_END, b""))
        self.assertEqual(harness.reply_to(half_closed), b"")
        self.assertEqual(self.received_arguments(), [d.encode() for d in DOCUMENTS])
        self.assertIsNone(stand_in.poll(), "the stand-in stopped serving")

    def test_the_stand_in_answers_no_stranger_and_parses_a_large_selection_once(self):
        stand_in = self.serve("answer", requests=3)
        # What no launcher sends gets no reply at all: its sender may be anything.
        self.assertEqual(exchange(b'("a")<EOF>'), b"")
        # A selection of 20,000 documents, 5.3 MB: parsed after every read, it would take longer
        # than the stand-in gives a request.
        selection = [f"C:\\Data\\{i:05}\\".encode() + b"x" * 240 for i in range(20000)]
        self.assertEqual(exchange(harness.expected_request(selection)), b"OK 20000")
        run = self.launch(DOCUMENTS)
        self.assertEqual((run.status, run.stdout), (0, b"OK 2" + self.LINE_END), run.stderr)
        # It served all three, and says that one of them was no launcher's.
        self.assertEqual(stand_in.wait(timeout=60), 1)
