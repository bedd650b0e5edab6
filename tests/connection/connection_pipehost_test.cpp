// The connection classes against PipeHost in the stand-in link server: every
// operation over both transports, with the verdicts the link server gives.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/connection_texts.h"
#include "link/cqornet_pipe.h"
#include "link/cqornet_win_pipe.h"
#include "link/names.h"
#include "platform/clock.h"
#include "tests/support/stand_in.h"
#include "tests/support/test_support.h"

using namespace qor;

namespace {

enum class Transport { pipe, window };

std::string transport_name(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::pipe ? "Pipe" : "Window";
}

class ConnectionAgainstPipeHost : public ::testing::TestWithParam<Transport> {
 protected:
  // A stand-in serving `instance` with a data pipe ORDERS for ORD packets of
  // every terminal, terminals 5 and 12 known, and `policy` for the rest.
  void serve(const std::string& policy = "ack") {
    instance_ = test::unique_name("QC");
    server_ = std::make_unique<test::StandIn>(instance_, "--terminals 5,12 --policy " + policy,
                                              std::vector<std::string>{"pipe|ORDERS|ORD|000"});
    ASSERT_TRUE(server_->up());
    link::select_connection_texts(link::answer_pipe_name(instance_), link::server_window_title(instance_));
    if (GetParam() == Transport::pipe)
      connection_ = std::make_unique<link::CQORNetPipe>();
    else
      connection_ = std::make_unique<link::CQORNetWinPipe>();
    connection_->set_instance(instance_);
    // The answer pipe's listener comes up on its own thread just after the
    // window; the first request may find none yet.
    for (int i = 0; i < 100 && connection_->CheckRivo63("host") != 1; ++i) platform::sleep_ms(20);
  }

  std::string orders() const { return link::qualified_pipe_name(instance_, "ORDERS"); }

  std::string instance_;
  std::unique_ptr<test::StandIn> server_;
  std::unique_ptr<link::CQORNetPipe> connection_;
};

TEST_P(ConnectionAgainstPipeHost, RequestsSettledByThePlugInAndByTheLinkServer) {
  serve();
  EXPECT_EQ(connection_->CheckRivo63("host"), 1);
  EXPECT_EQ(connection_->connected(), 1);

  EXPECT_EQ(connection_->ClosePipe(orders()), 0) << "not open yet";
  EXPECT_EQ(connection_->OpenPipe(orders()), 1);
  EXPECT_EQ(connection_->ClosePipe(orders()), 1);
  EXPECT_EQ(connection_->OpenPipe(instance_ + "_NOSUCH"), 0) << "no such data endpoint";
  EXPECT_EQ(connection_->connected(), 1) << "a refusal is an answer";

  // On the pipe, passed on to the link server, whose policy acknowledges
  // them. By window the plug-in knows no such command word and takes the
  // block as a read request for a pipe that does not exist: NAK.
  int passed_on = GetParam() == Transport::pipe ? 1 : 0;
  EXPECT_EQ(connection_->CreatePipe(instance_ + "_NEW"), passed_on);
  EXPECT_EQ(connection_->DestroyPipe(instance_ + "_NEW"), passed_on);
  EXPECT_EQ(connection_->Send("5|" + orders() + "|HELLO", 5000), 1);
  if (GetParam() == Transport::pipe) {
    EXPECT_EQ(connection_->Send("5|" + orders() + "|HELLO", 0), 1) << "queued: the receipt is the answer";
  }
  // By window a wait of 0 looks at the reply once, right after the hand-over:
  // whether the receipt is in by then is a race, so only the pipe is held to it.

  // From the link server's table of terminals; never 0.
  EXPECT_EQ(connection_->CheckTerminal(5), 1);
  EXPECT_EQ(connection_->CheckTerminal(6), link::not_in_database);
}

TEST_P(ConnectionAgainstPipeHost, NegativeVerdictsOfTheLinkServer) {
  serve("reject");
  EXPECT_EQ(connection_->Send("5|" + orders() + "|HELLO", 5000), 0);
  EXPECT_EQ(connection_->connected(), 1) << "reached, but refused";
  EXPECT_EQ(connection_->Send("99|QX_ORDERS|HELLO", 5000), 0);
  EXPECT_EQ(connection_->CheckTerminal(12), 1) << "the terminal table still answers";
}

TEST_P(ConnectionAgainstPipeHost, ReceivesTerminalDataInOrderAndOnlyOnce) {
  serve();
  ASSERT_EQ(connection_->OpenPipe(orders()), 1);
  EXPECT_EQ(connection_->Receive(orders(), 100), "") << "nothing pending";
  ASSERT_TRUE(server_->terminal_data(5, "ORD", "first"));
  ASSERT_TRUE(server_->terminal_data(12, "ORD", "second"));
  EXPECT_EQ(connection_->Receive(orders(), 5000), "5|ORD|first");
  EXPECT_EQ(connection_->Receive(orders(), 5000), "12|ORD|second");
  EXPECT_EQ(connection_->Receive(orders(), 100), "");
  EXPECT_EQ(connection_->connected(), 1);
}

TEST_P(ConnectionAgainstPipeHost, AMessageThatComesDuringTheWaitIsTaken) {
  serve();
  ASSERT_EQ(connection_->OpenPipe(orders()), 1);
  std::thread later([&] {
    platform::sleep_ms(300);
    server_->terminal_data(7, "ORD", "later");
  });
  std::string text = connection_->Receive(orders(), 5000);
  later.join();
  EXPECT_EQ(text, "7|ORD|later");
}

TEST_P(ConnectionAgainstPipeHost, UnreachableServerIsNotConnected) {
  instance_ = test::unique_name("QX");
  link::select_connection_texts(link::answer_pipe_name(instance_), link::server_window_title(instance_));
  std::unique_ptr<link::CQORNetPipe> connection;
  if (GetParam() == Transport::pipe)
    connection = std::make_unique<link::CQORNetPipe>();
  else
    connection = std::make_unique<link::CQORNetWinPipe>();
  connection->set_instance(instance_);
  EXPECT_EQ(connection->CheckRivo63("host"), 0);
  EXPECT_EQ(connection->connected(), 0);
  EXPECT_EQ(connection->Receive(instance_ + "_ORDERS", 100), "");
  EXPECT_EQ(connection->connected(), 0);
  EXPECT_EQ(connection->CheckTerminal(5), link::not_in_database);
}

TEST_P(ConnectionAgainstPipeHost, ReconnectsWhenTheServerComesBack) {
  serve();
  ASSERT_EQ(connection_->OpenPipe(orders()), 1);
  ASSERT_EQ(connection_->Receive(orders(), 100), "");
  std::string instance = instance_;
  server_.reset();  // the link server ends: its pipes and window go

  EXPECT_EQ(connection_->CheckRivo63("host"), 0);
  EXPECT_EQ(connection_->Receive(orders(), 100), "");
  EXPECT_EQ(connection_->connected(), 0);

  server_ = std::make_unique<test::StandIn>(instance, "--terminals 5", std::vector<std::string>{"pipe|ORDERS|ORD|000"});
  ASSERT_TRUE(server_->up());
  bool back = false;
  for (int i = 0; i < 100 && !back; ++i) back = connection_->CheckRivo63("host") == 1 || (platform::sleep_ms(20), false);
  EXPECT_TRUE(back) << "the same object reopens what failed";
  ASSERT_EQ(connection_->OpenPipe(orders()), 1);
  ASSERT_TRUE(server_->terminal_data(5, "ORD", "again"));
  EXPECT_EQ(connection_->Receive(orders(), 5000), "5|ORD|again");
}

INSTANTIATE_TEST_SUITE_P(BothTransports, ConnectionAgainstPipeHost, ::testing::Values(Transport::pipe, Transport::window),
                         transport_name);

}  // namespace
