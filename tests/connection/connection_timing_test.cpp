// The client's own rules against scripted servers: which replies count as
// positive, how long it waits, how two threads share a data pipe, and what
// happens to answers that come late.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "link/connection_texts.h"
#include "link/cqornet_pipe.h"
#include "link/cqornet_win_pipe.h"
#include "link/chunks.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "tests/connection/scripted_peers.h"
#include "tests/support/test_support.h"

using namespace qor;
using test::ScriptedPipe;
using test::ScriptedWindow;

namespace {

const std::string SYN(1, link::SYN), ACK(1, link::ACK), NAK(1, link::NAK), ENQ(1, link::ENQ);

std::uint32_t elapsed_since(std::uint32_t start) { return platform::tick_ms() - start; }

// A pipe-transport connection to the answer pipe `name` on this machine.
std::unique_ptr<link::CQORNetPipe> pipe_connection(const std::string& name) {
  link::select_connection_texts(name, name);
  auto connection = std::make_unique<link::CQORNetPipe>();
  connection->set_instance(name);
  return connection;
}

TEST(PipeTransportSend, TheReplyDecidesTheResult) {
  struct Case {
    const char* reply;
    int result;
  } cases[] = {
      {"\x06", 1},          // the receipt of an unconfirmed request
      {"\x16\x06", 1},      // SYN ACK
      {"\x16\x15", 0},      // SYN NAK
      {"\x16\x07", 0},      // SYN REJECT
      {"\x16\x08", 0},      // SYN BUSY
      {"\x16\x09", 0},      // SYN TIMEOUT
      {"\x15", 0},          // a bare NAK
      {"\x16", 0},          // SYN without a verdict
      {"\x16\x06\x06", 1},  // only the first two bytes count
  };
  for (const Case& c : cases) {
    std::string name = test::unique_name("QS");
    std::string reply = c.reply;
    ScriptedPipe server(name, [&](int, const std::string&, platform::PipeServer& end) { test::write(end, reply); });
    auto connection = pipe_connection(name);
    EXPECT_EQ(connection->Send("5|X_ORDERS|HELLO", 500), c.result) << "reply " << reply.size() << " bytes";
    ASSERT_EQ(server.received().size(), 1u);
    EXPECT_EQ(server.received()[0], SYN + "5|X_ORDERS|HELLO") << "a positive wait asks for a verdict";
  }
}

TEST(PipeTransportSend, WaitZeroSendsThePlainTextAndTakesTheReceipt) {
  std::string name = test::unique_name("QS");
  ScriptedPipe server(name, [](int, const std::string&, platform::PipeServer& end) { test::write(end, ACK); });
  auto connection = pipe_connection(name);
  EXPECT_EQ(connection->Send("5|X_ORDERS|HELLO", 0), 1);
  EXPECT_EQ(connection->Send("5|X_ORDERS|AGAIN", -20), 1) << "a negative wait counts as 0";
  EXPECT_EQ(server.received(), (std::vector<std::string>{"5|X_ORDERS|HELLO", "5|X_ORDERS|AGAIN"}));
  EXPECT_EQ(server.connections(), 1) << "the answer pipe stays open between requests";
  EXPECT_EQ(connection->Send("", 100), 0) << "an empty text is not sent";
  EXPECT_EQ(server.received().size(), 2u);
}

TEST(PipeTransportSend, AShortWaitIsRaisedAndALateVerdictIsNotTakenForTheNextOne) {
  std::string name = test::unique_name("QS");
  // The first request's verdict comes after the client gave up; every later
  // request is refused at once.
  ScriptedPipe server(name, [](int connection, const std::string&, platform::PipeServer& end) {
    if (connection == 0) {
      platform::sleep_ms(4500);
      test::write(end, SYN + ACK);
    } else {
      test::write(end, SYN + NAK);
    }
  });
  auto connection = pipe_connection(name);
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(connection->Send("first", 500), 0);
  std::uint32_t waited = elapsed_since(start);
  EXPECT_GE(waited, 3600u) << "a wait of 500 ms is raised to 3640 ms";
  EXPECT_LT(waited, 4400u);
  EXPECT_EQ(connection->connected(), 1) << "the server was reached";
  platform::sleep_ms(1000);  // the late SYN ACK has been written by now
  EXPECT_EQ(connection->Send("second", 500), 0) << "the second request's own answer is NAK";
}

TEST(PipeTransportSend, NoServerMeansNotConnected) {
  auto connection = pipe_connection(test::unique_name("QS"));
  EXPECT_EQ(connection->Send("text", 500), 0);
  EXPECT_EQ(connection->connected(), 0);
}

// A data pipe that hands out `messages` one per ENQ, each only once `ready`
// says so.
struct DataPipeScript {
  std::mutex lock;
  std::vector<std::string> messages;
  std::atomic<bool> ready{true};
  std::atomic<int> enqs{0};

  void operator()(int, const std::string& message, platform::PipeServer& end) {
    if (message != ENQ) return;
    ++enqs;
    std::lock_guard<std::mutex> hold(lock);
    if (!ready || messages.empty()) return;
    test::write(end, messages.front());
    messages.erase(messages.begin());
  }
};

TEST(PipeTransportReceive, TakesAMessageAndConfirmsIt) {
  std::string name = test::unique_name("QD");
  DataPipeScript script;
  script.messages = {"5|ORD|HELLO"};
  ScriptedPipe server(name, std::ref(script));
  auto connection = pipe_connection("unused");
  EXPECT_EQ(connection->Receive(name, 2000), "5|ORD|HELLO");
  EXPECT_EQ(connection->connected(), 1);
  ASSERT_TRUE([&] {
    for (int i = 0; i < 100; ++i, platform::sleep_ms(10))
      if (server.received().size() >= 2) return true;
    return false;
  }());
  EXPECT_EQ(server.received()[0], ENQ);
  EXPECT_EQ(server.received()[1], ACK) << "the receipt follows the message";
}

TEST(PipeTransportReceive, WaitsTheDefaultForANegativeWait) {
  std::string name = test::unique_name("QD");
  DataPipeScript script;
  ScriptedPipe server(name, std::ref(script));
  auto connection = pipe_connection("unused");
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(connection->Receive(name, -1), "");
  std::uint32_t waited = elapsed_since(start);
  EXPECT_GE(waited, 1990u);
  EXPECT_LT(waited, 3000u);
  EXPECT_GT(script.enqs, 20) << "it polls about every 10 ms";
  EXPECT_EQ(connection->connected(), 1) << "an empty wait still reached the pipe";
}

TEST(PipeTransportReceive, WaitZeroHasNoLimitAndSeesALaterMessage) {
  std::string name = test::unique_name("QD");
  DataPipeScript script;
  script.messages = {"9|ORD|LATE"};
  script.ready = false;
  ScriptedPipe server(name, std::ref(script));
  auto connection = pipe_connection("unused");
  std::thread release([&] {
    platform::sleep_ms(700);
    script.ready = true;
  });
  std::uint32_t start = platform::tick_ms();
  std::string text = connection->Receive(name, 0);
  release.join();
  EXPECT_EQ(text, "9|ORD|LATE") << "a message that comes after the first poll ends the wait";
  EXPECT_GE(elapsed_since(start), 650u);
}

TEST(PipeTransportReceive, TwoMessagesWaitingAtOnceAreTakenOneByOne) {
  std::string name = test::unique_name("QD");
  ScriptedPipe server(name, [](int, const std::string& message, platform::PipeServer& end) {
    if (message == ENQ) {
      test::write(end, "1|ORD|one");
      test::write(end, "2|ORD|two");
    }
  });
  auto connection = pipe_connection("unused");
  std::string first = connection->Receive(name, 2000);
  platform::sleep_ms(100);
  EXPECT_EQ(first, "1|ORD|one");
  EXPECT_EQ(connection->Receive(name, 2000), "2|ORD|two");
}

TEST(PipeTransportReceive, ASecondReaderWaitsItsOwnDeadlineWithoutTouchingThePipe) {
  std::string name = test::unique_name("QD");
  DataPipeScript script;
  script.messages = {"5|ORD|FOR-THE-FIRST"};
  script.ready = false;
  ScriptedPipe server(name, std::ref(script));
  auto connection = pipe_connection("unused");
  ASSERT_EQ(connection->Receive(name, 50), "") << "opens the pipe";

  std::string first;
  std::thread reader([&] { first = connection->Receive(name, 3000); });
  platform::sleep_ms(200);
  std::uint32_t start = platform::tick_ms();
  std::string second = connection->Receive(name, 400);
  std::uint32_t waited = elapsed_since(start);
  script.ready = true;
  reader.join();
  EXPECT_EQ(second, "") << "the pipe was busy for its whole wait";
  EXPECT_GE(waited, 390u);
  EXPECT_LT(waited, 1500u);
  EXPECT_EQ(first, "5|ORD|FOR-THE-FIRST");
}

TEST(PipeTransportReceive, AFailedPipeIsReopenedByTheNextCall) {
  std::string name = test::unique_name("QD");
  // The first connection breaks at its first poll; the second serves.
  ScriptedPipe server(name, [](int connection, const std::string& message, platform::PipeServer& end) {
    if (message != ENQ) return;
    if (connection == 0)
      end.disconnect();
    else
      test::write(end, "3|ORD|AFTER");
  });
  auto connection = pipe_connection("unused");
  EXPECT_EQ(connection->Receive(name, 500), "");
  EXPECT_EQ(connection->connected(), 0) << "the pipe broke";
  EXPECT_EQ(connection->Receive(name, 2000), "3|ORD|AFTER");
  EXPECT_EQ(server.connections(), 2);
}

// The window transport against a scripted server window.
class WindowTransport : public ::testing::Test {
 protected:
  std::unique_ptr<link::CQORNetWinPipe> connect(const std::string& title) {
    link::select_connection_texts(title, title);
    auto connection = std::make_unique<link::CQORNetWinPipe>();
    connection->set_instance(title);
    return connection;
  }
  std::string title_ = test::unique_name("QW");
};

TEST_F(WindowTransport, EachVerdictGivesItsResult) {
  struct Case {
    std::uint32_t message;
    int send;
    int check_terminal;
  } cases[] = {
      {link::MSG_REPLY_ACK, 1, 1},     {link::MSG_REPLY_NAK, 0, -8},     {link::MSG_REPLY_REJECT, 0, -8},
      {link::MSG_REPLY_BUSY, 0, -8},   {link::MSG_REPLY_TIMEOUT, 0, -8},
  };
  for (const Case& c : cases) {
    std::uint32_t verdict = c.message;
    std::string title = test::unique_name("QW");
    ScriptedWindow server(title, [verdict](const link::RequestBlock&, platform::ThreadId reply_to) {
      platform::post_thread_message(reply_to, verdict, 0, 0);
    });
    ASSERT_TRUE(server.created());
    auto connection = connect(title);
    EXPECT_EQ(connection->Send("5|X_ORDERS|HELLO", 2000), c.send) << std::hex << verdict;
    EXPECT_EQ(connection->CheckTerminal(5), c.check_terminal) << std::hex << verdict;
    auto blocks = server.blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].name, "");
    EXPECT_EQ(blocks[0].text, SYN + "5|X_ORDERS|HELLO");
    EXPECT_EQ(blocks[1].name, "5");
    EXPECT_EQ(blocks[1].text, "CheckTerminal");
  }
}

TEST_F(WindowTransport, AMessageThatCameAfterReceiveGaveUpIsTakenNextWithoutAnotherRequest) {
  ScriptedWindow* window = nullptr;
  ScriptedWindow server(title_, [&](const link::RequestBlock& block, platform::ThreadId reply_to) {
    if (block.name != title_ + "_ORDERS") return;
    // Too late for this read: the answer comes after the client's wait.
    window->later(600, [reply_to] {
      for (const link::Chunk& chunk : link::split_into_chunks("5|ORD|a text of several chunks"))
        platform::post_thread_message(reply_to, link::MSG_DATA_CHUNK, chunk.first, chunk.second);
      platform::post_thread_message(reply_to, link::MSG_REPLY_ACK, 0, 0);
    });
  });
  window = &server;
  auto connection = connect(title_);
  EXPECT_EQ(connection->Receive(title_ + "_ORDERS", 200), "");
  platform::sleep_ms(800);
  std::uint32_t start = platform::tick_ms();
  EXPECT_EQ(connection->Receive("ANY_OTHER_PIPE", 2000), "5|ORD|a text of several chunks");
  EXPECT_LT(elapsed_since(start), 200u) << "returned at once";
  EXPECT_EQ(server.blocks().size(), 1u) << "without a new request";
}

TEST_F(WindowTransport, AMessageWhoseAckANakOvertookIsNotLost) {
  // The read request sent just before a wait ran out takes a message; the
  // next Receive asks again before the reply thread has handled it, so the
  // NAK for that second request follows the message's ACK at once.
  std::atomic<int> reads{0};
  std::atomic<bool> message_posted{false};
  ScriptedWindow* window = nullptr;
  auto post_message = [](platform::ThreadId to) {
    for (const link::Chunk& chunk : link::split_into_chunks("5|ORD|the message"))
      platform::post_thread_message(to, link::MSG_DATA_CHUNK, chunk.first, chunk.second);
    platform::post_thread_message(to, link::MSG_REPLY_ACK, 0, 0);
  };
  std::atomic<bool> second_waiting{false};
  std::atomic<platform::ThreadId> client{0};
  ScriptedWindow server(title_, [&](const link::RequestBlock&, platform::ThreadId reply_to) {
    client = reply_to;
    int read = ++reads;
    if (read == 1) {
      window->later(250, [&, reply_to] {
        post_message(reply_to);
        message_posted = true;
        if (second_waiting) platform::post_thread_message(reply_to, link::MSG_REPLY_NAK, 0, 0);
      });
    } else if (read == 2 && !message_posted) {
      second_waiting = true;  // its NAK goes out right behind the message
    } else {
      platform::post_thread_message(reply_to, link::MSG_REPLY_NAK, 0, 0);
    }
  });
  window = &server;
  auto connection = connect(title_);
  EXPECT_EQ(connection->Receive(title_ + "_ORDERS", 200), "") << "gave up before the message came";
  EXPECT_EQ(connection->Receive(title_ + "_ORDERS", 1000), "5|ORD|the message");
}

TEST_F(WindowTransport, NothingPendingIsAskedAgainUntilAMessageComes) {
  std::atomic<int> reads{0};
  ScriptedWindow server(title_, [&](const link::RequestBlock&, platform::ThreadId reply_to) {
    if (++reads < 5) {
      platform::post_thread_message(reply_to, link::MSG_REPLY_NAK, 0, 0);
      return;
    }
    for (const link::Chunk& chunk : link::split_into_chunks("12|ORD|fifth"))
      platform::post_thread_message(reply_to, link::MSG_DATA_CHUNK, chunk.first, chunk.second);
    platform::post_thread_message(reply_to, link::MSG_REPLY_ACK, 0, 0);
  });
  auto connection = connect(title_);
  EXPECT_EQ(connection->Receive(title_ + "_ORDERS", 3000), "12|ORD|fifth");
  EXPECT_EQ(reads, 5);
  auto blocks = server.blocks();
  EXPECT_EQ(blocks.back().name, title_ + "_ORDERS");
  EXPECT_EQ(blocks.back().text, "") << "a read request has an empty text";
}

TEST_F(WindowTransport, ANegativeWaitWaitsLong) {
  // A negative wait stands for 30000 ms: a verdict 2.5 s late still counts,
  // where a wait of 1000 ms gives up.
  ScriptedWindow* window = nullptr;
  ScriptedWindow server(title_, [&](const link::RequestBlock&, platform::ThreadId reply_to) {
    window->later(2500, [reply_to] { platform::post_thread_message(reply_to, link::MSG_REPLY_ACK, 0, 0); });
  });
  window = &server;
  auto connection = connect(title_);
  EXPECT_EQ(connection->Transact("", "5|X_ORDERS|HELLO", 1000, false), "TIMEOUT");
  platform::sleep_ms(2000);  // that verdict comes meanwhile; a new request starts afresh
  EXPECT_EQ(connection->Transact("", "5|X_ORDERS|HELLO", -1, false), "ACK");
  EXPECT_EQ(server.blocks().back().text, "5|X_ORDERS|HELLO") << "no SYN without a positive wait";
}

TEST_F(WindowTransport, TextsTooLongForABlockAreNotSent) {
  ScriptedWindow server(title_, [](const link::RequestBlock&, platform::ThreadId reply_to) {
    platform::post_thread_message(reply_to, link::MSG_REPLY_ACK, 0, 0);
  });
  auto connection = connect(title_);
  EXPECT_EQ(connection->Send(std::string(1022, 'x'), 500), 1) << "SYN and 1022 bytes and the NUL fit";
  EXPECT_EQ(connection->Send(std::string(1023, 'x'), 500), 0);
  EXPECT_EQ(connection->OpenPipe(std::string(64, 'p')), 0) << "a name of 64 bytes does not fit";
  EXPECT_EQ(server.blocks().size(), 1u);
}

TEST_F(WindowTransport, NoWindowMeansNotConnected) {
  auto connection = connect(title_);
  EXPECT_EQ(connection->CheckRivo63("host"), 0);
  EXPECT_EQ(connection->connected(), 0);
  EXPECT_EQ(connection->Receive(title_ + "_ORDERS", 100), "");
  EXPECT_EQ(connection->connected(), 0);
}

}  // namespace
