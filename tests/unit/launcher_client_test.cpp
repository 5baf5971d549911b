#include "link/launcher_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_platform.h"

namespace {

using std::chrono::seconds;
using Calls = std::vector<std::string>;

// Refused, and nothing listens: a full queue would have been tried again.
const Calls kRefusedAttempt = {"WSAStartup",
                               "getaddrinfo 127.0.0.1 46157",
                               "socket 2 1 6",
                               "WSAIoctlNoSynRetransmissions",
                               "connect",
                               "closesocket",
                               "GetExtendedTcpTable listeners",
                               "freeaddrinfo",
                               "WSACleanup"};
const Calls kAcceptedAttempt = {"WSAStartup",   "getaddrinfo 127.0.0.1 46157",
                                "socket 2 1 6", "WSAIoctlNoSynRetransmissions",
                                "connect",      "freeaddrinfo"};
// Finding out who accepted: the owner of the server side is process 777, of the launcher's own
// session, which may then bring its window to the front.
const Calls kOwnerLookup = {"getsockname",
                            "getpeername",
                            "GetExtendedTcpTable connections",
                            "ProcessIdToSessionId 777",
                            "ProcessIdToSessionId 4242",
                            "AllowSetForegroundWindow 777"};
// The started application may take the foreground as soon as it has a window, long before it
// accepts.
const Calls kStart = {
    "CreateProcessW C:\\Apps\\Orbedo\\Orbedo.exe \"C:\\Apps\\Orbedo\\Orbedo.exe\"",
    "AllowSetForegroundWindow 900", "CloseHandle process", "CloseHandle thread"};
const Calls kWait = {"SleepFor 10000ms"};
// Sending a 10-byte request and reading a reply that ends at once.
const Calls kExchange = {"send 10", "recv 512", "closesocket", "WSACleanup"};
const char kAnotherSessionBox[] =
    "MessageBoxA Orbedo Launcher: Orbedo is already running in another user's session on this "
    "computer, so the document was not opened.\n\nA document can only be opened in Orbedo from "
    "the session it runs in: open it there, or ask that user to close Orbedo, and open it again.";
const Calls kGiveUp = {
    "MessageBoxA Couldn't communicate with Orbedo: Orbedo launcher failed to communicate with "
    "Orbedo.exe"};

Calls Join(std::initializer_list<Calls> parts) {
  Calls joined;
  for (const Calls& part : parts) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

class LauncherClientTest : public testing::Test {
 protected:
  void SetUp() override { ResetFake(); }

  // Every path leaves nothing held: start-ups and clean-ups of the socket library balance, and
  // every socket, address list and handle is released.
  void TearDown() override {
    EXPECT_EQ(Fake().started_libraries, 0);
    EXPECT_EQ(Fake().open_sockets, 0);
    EXPECT_EQ(Fake().unfreed_address_lists, 0);
    EXPECT_EQ(Fake().open_handles, 0);
  }

  // Runs Connect then Send; returns the runtime error's message, or "" when there was none.
  std::string Launch(const std::string& body = "[\"a\"]",
                     const std::string& install_prefix = "C:\\Apps\\Orbedo\\") {
    LauncherClient client;
    try {
      client.Connect(install_prefix);
      client.Send(body);
    } catch (const std::runtime_error& error) {
      return error.what();
    }
    return "";
  }

  seconds Elapsed() const {
    return std::chrono::duration_cast<seconds>(Fake().now - platform::Clock::time_point());
  }
};

TEST_F(LauncherClientTest, DeliversInOneAttemptWhenTheApplicationListens) {
  Fake().connect_results = {true};
  Fake().replies = {"OK 1"};
  testing::internal::CaptureStdout();
  EXPECT_EQ(Launch("[\"a\",\"b\\/c\"]"), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "OK 1\n");

  EXPECT_EQ(Fake().sent, "[\"a\",\"b\\/c\"]<EOF>");
  EXPECT_EQ(Fake().calls, Join({kAcceptedAttempt,
                                kOwnerLookup,
                                {"send 17", "recv 512", "recv 512", "closesocket", "WSACleanup"}}));
  EXPECT_EQ(Fake().hints.ai_flags, 0);
  EXPECT_EQ(Fake().hints.ai_family, AF_UNSPEC);
  EXPECT_EQ(Fake().hints.ai_socktype, SOCK_STREAM);
  EXPECT_EQ(Fake().hints.ai_protocol, IPPROTO_TCP);
  EXPECT_EQ(Fake().hints.ai_addrlen, 0u);
  EXPECT_EQ(Fake().hints.ai_addr, nullptr);
  EXPECT_EQ(Fake().hints.ai_canonname, nullptr);
  EXPECT_EQ(Fake().hints.ai_next, nullptr);
}

TEST_F(LauncherClientTest, StartsTheApplicationAfterTheFirstFailedAttemptOnly) {
  // It listens only by the third attempt, as an application that takes 15 seconds to start.
  Fake().connect_results = {false, false, true};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().calls, Join({kRefusedAttempt, kStart, kWait, kRefusedAttempt, kWait,
                                kAcceptedAttempt, kOwnerLookup, kExchange}));
  EXPECT_EQ(Elapsed(), seconds(20));
}

TEST_F(LauncherClientTest, GoesOnWhereTheSystemLacksTheRetransmissionControl) {
  Fake().ioctl_result = platform::kSocketError;
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().calls,
            Join({kRefusedAttempt, kStart, kWait, kAcceptedAttempt, kOwnerLookup, kExchange}));
}

TEST_F(LauncherClientTest, StartsNothingFromAnEmptyPrefix) {
  EXPECT_EQ(Launch("[]", ""), "Couldn't start Orbedo");
  EXPECT_EQ(Fake().Count("CreateProcessW"), 0);
  EXPECT_EQ(Fake().Count("SleepFor"), 0);
}

TEST_F(LauncherClientTest, RefusesAConnectionThatAnotherSessionAccepted) {
  // Nothing listened at first; then the application of another session took the port.
  Fake().connect_results = {false, true};
  Fake().sessions[777] = 2;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Launch(), "Orbedo is running in another session");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(Fake().sent, "");
  EXPECT_EQ(Fake().calls, Join({kRefusedAttempt,
                                kStart,
                                kWait,
                                kAcceptedAttempt,
                                {"getsockname", "getpeername", "GetExtendedTcpTable connections",
                                 "ProcessIdToSessionId 777", "ProcessIdToSessionId 4242"},
                                {"closesocket", "WSACleanup", kAnotherSessionBox}}));
}

// Another user's application: a standard user may not open its process, but may read the list.
TEST_F(LauncherClientTest, AsksTheProcessListForAProcessItMayNotOpen) {
  Fake().connect_results = {true};
  Fake().sessions.erase(777);
  Fake().listed_sessions = {{777, 2}};
  EXPECT_EQ(Launch(), "Orbedo is running in another session");
  EXPECT_EQ(Fake().sent, "");
  EXPECT_EQ(Fake().Count("NtQuerySystemInformationSessionId 777"), 1);
}

TEST_F(LauncherClientTest, SendsWhenTheProcessListSaysTheSessionIsOurs) {
  // As for an application that runs elevated in the user's own session.
  Fake().connect_results = {true};
  Fake().sessions.erase(777);
  Fake().listed_sessions = {{777, kLauncherSession}};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().sent, "[\"a\"]<EOF>");
}

// On a Remote Desktop server connections and processes come and go between two calls.
TEST_F(LauncherClientTest, ReadsTablesThatGrowAtEveryCall) {
  Fake().connect_results = {true};
  // Another user's application, known only from the process list: both tables are read.
  Fake().sessions.erase(777);
  Fake().listed_sessions = {{777, 2}};
  // 3,000 rows of 24 bytes, one more at every call; a process list of 2,000 processes, one more
  // at every call, that does not say how large it is.
  Fake().tcp_table_size.size = 3000 * 24;
  Fake().tcp_table_size.growth = 24;
  Fake().process_list_size.size = 2000 * 640;
  Fake().process_list_size.growth = 640;
  Fake().process_list_size.says_size = false;
  EXPECT_EQ(Launch(), "Orbedo is running in another session");
  EXPECT_EQ(Fake().sent, "");
  // The first buffers are tens of kilobytes, and each later one larger than the last.
  EXPECT_GE(Fake().tcp_table_size.offered.front(), 32768u);
  for (const auto* offered : {&Fake().tcp_table_size.offered, &Fake().process_list_size.offered}) {
    EXPECT_TRUE(std::is_sorted(offered->begin(), offered->end()));
    EXPECT_EQ(std::adjacent_find(offered->begin(), offered->end()), offered->end());
  }
}

// Windows refuses a connection with a reset when the listener's queue is full.
TEST_F(LauncherClientTest, TriesAFullQueueAgainBeforeStartingAnything) {
  for (const std::uint32_t address : {INADDR_LOOPBACK, INADDR_ANY}) {
    ResetFake();
    Fake().tcp_table->push_back(ListenerRow(address, kApplicationPort));
    Fake().connect_results = {false, false, false, true};
    EXPECT_EQ(Launch(), "");
    EXPECT_EQ(Fake().sent, "[\"a\"]<EOF>");
    EXPECT_EQ(Fake().Count("CreateProcessW"), 0);
    EXPECT_EQ(Fake().Count("WSAStartup"), 1);
    // At once, then half a second apart.
    EXPECT_EQ(Fake().Count("GetExtendedTcpTable listeners"), 3);
    EXPECT_EQ(Fake().Count("SleepFor 500ms"), 2);
    EXPECT_EQ(Elapsed(), seconds(1));
  }
}

TEST_F(LauncherClientTest, StartsTheApplicationOnceTheFullQueueRetriesAreUsedUp) {
  Fake().tcp_table->push_back(ListenerRow(INADDR_LOOPBACK, kApplicationPort));
  Fake().connect_results = {false, false, false, false, false, true};
  EXPECT_EQ(Launch(), "");
  // Five tries within about two seconds, then the attempt has failed as any other.
  const auto start = std::find(Fake().calls.begin(), Fake().calls.end(), kStart[0]);
  ASSERT_NE(start, Fake().calls.end());
  EXPECT_EQ(std::count(Fake().calls.begin(), start, "connect"), 5);
  EXPECT_EQ(std::count(Fake().calls.begin(), start, "SleepFor 500ms"), 3);
  EXPECT_EQ(Fake().now - platform::Clock::time_point(), std::chrono::milliseconds(11500));
}

TEST_F(LauncherClientTest, TakesNoOtherListenerForTheApplication) {
  // Another port, or another address than the one refused: nothing listens for the launcher.
  Fake().tcp_table->push_back(ListenerRow(INADDR_LOOPBACK, kApplicationPort + 1));
  Fake().tcp_table->push_back(ListenerRow(INADDR_LOOPBACK + 1, kApplicationPort));
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().calls,
            Join({kRefusedAttempt, kStart, kWait, kAcceptedAttempt, kOwnerLookup, kExchange}));
}

TEST_F(LauncherClientTest, StartsTheApplicationAsBeforeWhenTheTableCannotBeRead) {
  Fake().tcp_table.reset();
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(), "");
  Calls owner_unknown(kOwnerLookup.begin(), kOwnerLookup.begin() + 3);
  EXPECT_EQ(Fake().calls,
            Join({kRefusedAttempt, kStart, kWait, kAcceptedAttempt, owner_unknown, kExchange}));
}

// A program that runs its children in a job that ends them when it closes would end Orbedo too.
TEST_F(LauncherClientTest, StartsTheApplicationOutsideTheLaunchersJobWhereTheJobAllows) {
  const std::string breaking_away = kStart[0] + " breaking away from the job";
  Fake().in_job = true;
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().Count("CreateProcessW"), 1);
  EXPECT_EQ(Fake().Count(breaking_away), 1);

  // A job that does not let its processes leave: started in it, as before.
  ResetFake();
  Fake().in_job = true;
  Fake().job_allows_breakaway = false;
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().calls, Join({kRefusedAttempt,
                                {breaking_away},
                                kStart,
                                kWait,
                                kAcceptedAttempt,
                                kOwnerLookup,
                                kExchange}));
}

struct UnknownOwner {
  const char* name;
  void (*script)(FakePlatform&);
  bool owner_known;  // Only its session is not.
};

void PrintTo(const UnknownOwner& owner, std::ostream* out) { *out << owner.name; }

class LauncherClientUnknownOwnerTest : public LauncherClientTest,
                                       public testing::WithParamInterface<UnknownOwner> {};

TEST_P(LauncherClientUnknownOwnerTest, SendsAsWhenTheOwnerIsOurs) {
  Fake().connect_results = {true};
  // Every other process runs in another session: only a wrong answer could refuse the connection.
  Fake().sessions = {{kLauncherProcess, kLauncherSession}};
  for (std::uint32_t process : {777u, 778u, 779u}) {
    Fake().sessions[process] = 2;
  }
  GetParam().script(Fake());
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().sent, "[\"a\"]<EOF>");
  EXPECT_EQ(Fake().Count("MessageBoxA"), 0);
  EXPECT_EQ(Fake().Count("AllowSetForegroundWindow"), GetParam().owner_known ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, LauncherClientUnknownOwnerTest,
    testing::Values(
        UnknownOwner{"NoRowForThisConnection",
                     [](FakePlatform& fake) {
                       // The launcher's own end, and the server side of another launcher's.
                       fake.tcp_table = std::vector{TcpRow(kLauncherPort, kApplicationPort, 778),
                                                    TcpRow(kApplicationPort, 50001, 779)};
                     },
                     false},
        UnknownOwner{"OwnerNotSaid",
                     [](FakePlatform& fake) {
                       fake.tcp_table =
                           std::vector{TcpRow(kApplicationPort, kLauncherPort, std::nullopt)};
                     },
                     false},
        UnknownOwner{"TableUnreadable", [](FakePlatform& fake) { fake.tcp_table.reset(); }, false},
        UnknownOwner{"TableNeverLargeEnough",
                     // It says no size, and five tries of growing by half fall far short.
                     [](FakePlatform& fake) {
                       fake.tcp_table_size.size = 0xFFFFFFFF;
                       fake.tcp_table_size.says_size = false;
                     },
                     false},
        UnknownOwner{"OwnerNotQueryable", [](FakePlatform& fake) { fake.sessions.erase(777); },
                     true},
        UnknownOwner{"OwnSessionUnknown",
                     [](FakePlatform& fake) { fake.sessions.erase(kLauncherProcess); }, true},
        UnknownOwner{"SocketNamesUnknown",
                     [](FakePlatform& fake) { fake.socket_names_known = false; }, false}),
    [](const testing::TestParamInfo<UnknownOwner>& owner) { return owner.param.name; });

TEST_F(LauncherClientTest, GivesUpAfterFourAttemptsAndThreeWaits) {
  EXPECT_EQ(Launch(), "Couldn't communicate with Orbedo");
  EXPECT_EQ(Fake().calls, Join({kRefusedAttempt, kStart, kWait, kRefusedAttempt, kWait,
                                kRefusedAttempt, kWait, kRefusedAttempt, kGiveUp}));
  EXPECT_EQ(Elapsed(), seconds(30));
}

TEST_F(LauncherClientTest, SleepsAgainAfterAnEarlyWakeUp) {
  Fake().connect_results = {false, true};
  Fake().sleep_cut_short_to = {seconds(3), std::chrono::milliseconds(6999)};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().Count("SleepFor"), 3);
  const auto sleeps = std::find(Fake().calls.begin(), Fake().calls.end(), "SleepFor 10000ms");
  ASSERT_LE(sleeps + 3, Fake().calls.end());
  EXPECT_EQ(Calls(sleeps, sleeps + 3),
            (Calls{"SleepFor 10000ms", "SleepFor 7000ms", "SleepFor 1ms"}));
  EXPECT_EQ(Fake().now - platform::Clock::time_point(), seconds(10));
}

TEST_F(LauncherClientTest, TriesTheNextAddressWithoutWaiting) {
  Fake().resolved_addresses = 3;
  Fake().connect_results = {false, true};
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(Fake().calls,
            Join({{"WSAStartup", "getaddrinfo 127.0.0.1 46157", "socket 2 1 6",
                   "WSAIoctlNoSynRetransmissions", "connect", "closesocket", "socket 2 1 6",
                   "WSAIoctlNoSynRetransmissions", "connect", "freeaddrinfo"},
                  kOwnerLookup,
                  kExchange}));
}

TEST_F(LauncherClientTest, TriesEveryAddressInEachAttempt) {
  Fake().resolved_addresses = 2;
  EXPECT_EQ(Launch(), "Couldn't communicate with Orbedo");
  EXPECT_EQ(Fake().Count("connect"), 8);
  EXPECT_EQ(Fake().Count("CreateProcessW"), 1);
  EXPECT_EQ(Fake().Count("SleepFor"), 3);
}

struct FailureRow {
  const char* name;
  void (*script)(FakePlatform&);
  Calls expected_calls;  // From the failing call on.
  const char* error;
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

class LauncherClientFailureTest : public LauncherClientTest,
                                  public testing::WithParamInterface<FailureRow> {};

TEST_P(LauncherClientFailureTest, ShowsTheBoxAfterReleasingThenRaises) {
  const FailureRow& row = GetParam();
  row.script(Fake());
  testing::internal::CaptureStdout();
  EXPECT_EQ(Launch(), row.error);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const Calls& calls = Fake().calls;
  ASSERT_GE(calls.size(), row.expected_calls.size());
  EXPECT_EQ(Calls(calls.end() - static_cast<long>(row.expected_calls.size()), calls.end()),
            row.expected_calls);
  EXPECT_EQ(Fake().Count("MessageBoxA"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, LauncherClientFailureTest,
    testing::Values(
        FailureRow{"SocketLibrary",
                   [](FakePlatform& fake) { fake.wsa_startup_results = {10091}; },
                   {"WSAStartup", "MessageBoxA Orbedo Launcher: Socket error"},
                   "Failed to initialize socket"},
        FailureRow{"Resolution",
                   [](FakePlatform& fake) { fake.getaddrinfo_result = 11001; },
                   {"WSAStartup", "getaddrinfo 127.0.0.1 46157", "WSACleanup",
                    "MessageBoxA Orbedo Launcher: Socket error"},
                   "Failed to resolve address"},
        FailureRow{"SocketCreation",
                   [](FakePlatform& fake) { fake.socket_results = {false}; },
                   {"socket 2 1 6", "freeaddrinfo", "WSACleanup",
                    "MessageBoxA Orbedo Launcher: Socket error"},
                   "Socket failed"},
        FailureRow{"SocketCreationAtTheSecondAddress",
                   [](FakePlatform& fake) {
                     fake.resolved_addresses = 2;
                     fake.socket_results = {true, false};
                   },
                   {"socket 2 1 6", "WSAIoctlNoSynRetransmissions", "connect", "closesocket",
                    "socket 2 1 6", "freeaddrinfo", "WSACleanup",
                    "MessageBoxA Orbedo Launcher: Socket error"},
                   "Socket failed"},
        FailureRow{"ApplicationStart",
                   [](FakePlatform& fake) { fake.create_process_result = false; },
                   {"freeaddrinfo", "WSACleanup",
                    "CreateProcessW C:\\Apps\\Orbedo\\Orbedo.exe \"C:\\Apps\\Orbedo\\Orbedo.exe\"",
                    "MessageBoxA Couldn't start Orbedo: Orbedo launcher failed to start "
                    "Orbedo.exe"},
                   "Couldn't start Orbedo"},
        FailureRow{"Send",
                   [](FakePlatform& fake) {
                     fake.connect_results = {true};
                     fake.send_limits = {-1};
                   },
                   {"send 10", "closesocket", "WSACleanup",
                    "MessageBoxA Orbedo Launcher: Socket send error"},
                   "Send failed"},
        FailureRow{"SendAfterAPartialSend",
                   [](FakePlatform& fake) {
                     fake.connect_results = {true};
                     fake.send_limits = {4, -1};
                   },
                   {"send 10", "send 6", "closesocket", "WSACleanup",
                    "MessageBoxA Orbedo Launcher: Socket send error"},
                   "Send failed"},
        FailureRow{"SocketLibraryOnTheSecondAttempt",
                   [](FakePlatform& fake) {
                     fake.wsa_startup_results = {0, 10091};
                   },
                   {"CloseHandle thread", "SleepFor 10000ms", "WSAStartup",
                    "MessageBoxA Orbedo Launcher: Socket error"},
                   "Failed to initialize socket"}),
    [](const testing::TestParamInfo<FailureRow>& row) { return row.param.name; });

TEST_F(LauncherClientTest, SendsWhatASocketTookOnlyInPart) {
  Fake().connect_results = {true};
  Fake().send_limits = {3, 1, 5};
  EXPECT_EQ(Launch("[\"abc\"]"), "");
  EXPECT_EQ(Fake().sent, "[\"abc\"]<EOF>");
  EXPECT_EQ(Fake().Count("send"), 4);
}

TEST_F(LauncherClientTest, RelaysEveryReceivedChunkOnALineOfItsOwn) {
  Fake().connect_results = {true};
  // 1,300 bytes in one piece arrive through the 512-byte buffer as three chunks.
  Fake().replies = {std::string(1300, 'r'), "x", std::string("a\0b", 3)};
  testing::internal::CaptureStdout();
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string(512, 'r') + "\n" + std::string(512, 'r') + "\n" + std::string(276, 'r') +
                "\nx\n" + std::string("a\0b\n", 4));
}

TEST_F(LauncherClientTest, EndsQuietlyWhenTheReplyFailsOrIsEmpty) {
  Fake().connect_results = {true};
  Fake().replies = {"partial"};
  Fake().recv_fails_at_end = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Launch(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "partial\n");
  EXPECT_EQ(Fake().Count("MessageBoxA"), 0);
}

}  // namespace
