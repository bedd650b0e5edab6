// The endpoint's queues, monitor commands, verdicts and undelivered-message
// file, without pipe clients.
#include "pipehost/named_pipe_command.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "platform/thread_queue.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor::pipehost;
using qor::link::Verdict;
using qor::test::unique_name;

namespace {

// A data endpoint of a name no other test uses.
std::unique_ptr<CNamedPipeCommand> data_endpoint() {
  return std::make_unique<CNamedPipeCommand>(unique_name("qor_ep"));
}

std::string describe(const CTcpipMessage* m) {
  return m ? std::to_string(m->number) + " [" + m->text + "] " + m->wire_form() : "<none>";
}

}  // namespace

TEST(EndpointQueue, QueuedTextsBecomeNumberedMessages) {
  struct Case {
    const char* queued;
    const char* taken;  // number [text] wire form
  };
  const Case cases[] = {
      {"5|ORD|data", "5 [ORD|data] 5|ORD|data"},
      {"0|ORD|data", "0 [ORD|data] ORD|data"},
      {"plain", "0 [plain] plain"},
      {"|lead", "0 [|lead] |lead"},
      {"word|x", "0 [x] x"},  // the part before "|" counts only as a number
      {"-3|x", "-3 [x] -3|x"},
      {"5|", "5 [] 5|"},
      {"99999999999|x", "2147483647 [x] 2147483647|x"},
  };
  auto endpoint = data_endpoint();
  for (const auto& c : cases) {
    ASSERT_TRUE(endpoint->QueueForDelivery(c.queued)) << c.queued;
    CTcpipMessage* m = endpoint->TakeNextPending();
    EXPECT_EQ(describe(m), c.taken) << c.queued;
    endpoint->CompleteMessage(m);
  }
  // Nothing to deliver: refused, nothing queued.
  EXPECT_FALSE(endpoint->QueueForDelivery(""));
  EXPECT_FALSE(endpoint->QueueForDelivery("0|"));
  EXPECT_EQ(endpoint->pending_count(), 0u);
  EXPECT_EQ(endpoint->in_progress_count(), 0u);
}

TEST(EndpointQueue, TakeCompleteAndRequeueKeepTheOrder) {
  auto endpoint = data_endpoint();
  for (const char* text : {"a", "b", "c"}) ASSERT_TRUE(endpoint->QueueForDelivery(text));
  CTcpipMessage* a = endpoint->TakeNextPending();
  CTcpipMessage* b = endpoint->TakeNextPending();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->text, "a");
  EXPECT_EQ(b->text, "b");
  EXPECT_EQ(endpoint->pending_count(), 1u);
  EXPECT_EQ(endpoint->in_progress_count(), 2u);

  endpoint->RequeueMessage(a);  // back to the front, before "c"
  endpoint->RequeueMessage(a);  // no longer in progress: nothing
  endpoint->CompleteMessage(b);
  endpoint->CompleteMessage(b);
  CTcpipMessage stranger("x");
  endpoint->CompleteMessage(&stranger);
  endpoint->RequeueMessage(&stranger);
  endpoint->CompleteMessage(nullptr);
  EXPECT_EQ(endpoint->pending_count(), 2u);
  EXPECT_EQ(endpoint->in_progress_count(), 0u);

  EXPECT_EQ(describe(endpoint->TakeNextPending()), "0 [a] a");
  EXPECT_EQ(describe(endpoint->TakeNextPending()), "0 [c] c");
  EXPECT_EQ(endpoint->TakeNextPending(), nullptr);
}

TEST(EndpointQueue, RequestsComeOutOldestFirstAndGoBackToTheFront) {
  auto endpoint = data_endpoint();
  EXPECT_EQ(endpoint->TakeRequest(), nullptr);
  EXPECT_FALSE(endpoint->PostRequest(nullptr));
  ASSERT_TRUE(endpoint->PostRequest(std::make_unique<CTcpipMessage>("one")));
  ASSERT_TRUE(endpoint->PostRequest(std::make_unique<CTcpipMessage>("two", 99)));
  auto one = endpoint->TakeRequest();
  ASSERT_TRUE(one);
  EXPECT_EQ(one->text, "one");
  endpoint->RequeueRequest(std::move(one));
  EXPECT_EQ(endpoint->request_count(), 2u);
  EXPECT_EQ(describe(endpoint->TakeRequest().get()), "0 [one] one");
  EXPECT_EQ(describe(endpoint->TakeRequest().get()), "99 [two] 99|two");
  EXPECT_EQ(endpoint->pending_count(), 0u) << "requests and deliveries are separate queues";
}

TEST(RequestVerdicts, ReachAWaitingThreadOnceAndAreDroppedAfterIt) {
  CTcpipMessage request("5|X|data");
  EXPECT_FALSE(GiveVerdict(request, Verdict::ack)) << "nobody waits and nobody is told";

  auto wait = std::make_shared<AnswerWait>();
  request.answerThread = wait;
  EXPECT_EQ(wait->value(), 0u);
  EXPECT_TRUE(GiveVerdict(request, Verdict::reject));
  EXPECT_FALSE(GiveVerdict(request, Verdict::ack)) << "the first verdict decides";
  EXPECT_EQ(wait->close(), 7u);

  // A thread that stopped waiting replies NAK; a verdict after that is dropped.
  auto late = std::make_shared<AnswerWait>();
  request.answerThread = late;
  EXPECT_EQ(late->close(), 21u);
  EXPECT_FALSE(GiveVerdict(request, Verdict::ack));
  EXPECT_EQ(late->value(), 21u);
}

TEST(RequestVerdicts, PostTheirMessageToTheNotifiedThread) {
  ASSERT_TRUE(qor::platform::create_thread_queue());
  struct Case {
    Verdict verdict;
    std::uint32_t message;
  };
  const Case cases[] = {{Verdict::ack, qor::link::MSG_REPLY_ACK},
                        {Verdict::nak, qor::link::MSG_REPLY_NAK},
                        {Verdict::reject, qor::link::MSG_REPLY_REJECT},
                        {Verdict::busy, qor::link::MSG_REPLY_BUSY},
                        {Verdict::timeout, qor::link::MSG_REPLY_TIMEOUT}};
  for (const auto& c : cases) {
    CTcpipMessage request("CT|5", 99);
    request.notifyThreadId = qor::platform::current_thread_id();
    EXPECT_TRUE(GiveVerdict(request, c.verdict));
    ASSERT_TRUE(qor::platform::wait_message(20000));
    qor::platform::Message m;
    ASSERT_TRUE(qor::platform::peek_message(m, true));
    EXPECT_EQ(m.id, c.message);
    EXPECT_EQ(m.wparam, 0u);
    EXPECT_EQ(m.lparam, 0u);
  }
}

TEST(MonitorCommands, Table) {
  struct Case {
    int state;         // monitorState before
    const char* list;  // with the settings as "buffer=9|size=4|-1|-2" left them, one message pending
    bool accepted;
    int state_after;
    const char* settings_after;  // all / terminals / size / buffer
    std::size_t pending_after;
  };
  const Case cases[] = {
      {0, "stop|start", false, 0, "0/1,2/4/9", 1},  // refused at stop; start not applied
      {0, "start", false, 0, "0/1,2/4/9", 1},
      {1, "start", true, 2, "0/1,2/4/9", 0},
      {1, "RESTART", true, 2, "0/1,2/4/9", 0},  // lower-cased, matched as a substring
      {2, "stop", true, 1, "0/1,2/0/-1", 0},
      {1, "stop", false, 1, "0/1,2/4/9", 1},
      {0, "check", true, 0, "0/1,2/4/9", 1},
      {1, "check", false, 1, "0/1,2/4/9", 1},
      {0, "-7", true, 0, "0/1,2,7/4/9", 1},  // not listed: added
      {0, "-2", true, 0, "0/1/4/9", 1},      // listed: removed
      {0, "+7|+7|+1", true, 0, "0/1,2,7/4/9", 1},
      {0, "+0", true, 0, "1//4/9", 1},
      {0, "+0|-0", true, 0, "0//4/9", 1},
      {0, "-2147483648", true, 0, "0/1,2,2147483647/4/9", 1},
      {0, "buffer=5", true, 0, "0/1,2/4/5", 1},
      {0, "SIZE=3", true, 0, "0/1,2/3/9", 1},
      {0, "buffer|size", true, 0, "0/1,2/4/9", 1},   // without "=": no change
      {0, "buffersize=6", true, 0, "0/1,2/4/6", 1},  // "buffer" is tested first
      {0, "", true, 0, "0/1,2/4/9", 1},
      {0, "+3||+4", true, 0, "0/1,2,3,4/4/9", 1},  // empty fields are skipped
      {0, "hello", false, 0, "0/1,2/4/9", 1},
      {0, "+3|hello|+4", false, 0, "0/1,2,3/4/9", 1},
  };
  for (const auto& c : cases) {
    auto endpoint = data_endpoint();
    ASSERT_TRUE(endpoint->ApplyMonitorCommands("buffer=9|size=4|-1|-2"));
    ASSERT_TRUE(endpoint->QueueForDelivery("5|MON|x"));
    endpoint->set_monitorState(c.state);
    EXPECT_EQ(endpoint->ApplyMonitorCommands(c.list), c.accepted) << c.list;
    EXPECT_EQ(endpoint->monitorState(), c.state_after) << c.list;
    MonitorSettings s = endpoint->monitor_settings();
    std::string terminals;
    for (int t : s.terminals) terminals += (terminals.empty() ? "" : ",") + std::to_string(t);
    EXPECT_EQ(std::to_string(s.allTerminals) + "/" + terminals + "/" + std::to_string(s.size) + "/" +
                  std::to_string(s.buffer),
              c.settings_after)
        << c.list;
    EXPECT_EQ(endpoint->pending_count(), c.pending_after) << c.list;
  }
}

TEST(UndeliveredMessages, WrittenAtDestructionInProgressFirst) {
  qor::test::TempFolder folder;
  std::filesystem::create_directory(folder.path() / "errors");
  std::ofstream(folder.path() / "Rivo63.ini") << "[Global Parameters]\nError Path=errors\n";

  std::string name = unique_name("qor_dump");
  {
    CNamedPipeCommand endpoint(name);
    for (const char* text : {"5|ORD|one", "12|two", "three\nlines"}) ASSERT_TRUE(endpoint.QueueForDelivery(text));
    CTcpipMessage* one = endpoint.TakeNextPending();
    endpoint.TakeNextPending();  // "two" stays in progress
    endpoint.RequeueMessage(one);
    ASSERT_TRUE(endpoint.PostRequest(std::make_unique<CTcpipMessage>("request")));
  }
  std::string expected = "012|two\r\n005|ORD|one\r\n000|three\r\nlines\r\n";
  EXPECT_EQ(folder.read("errors/" + name + ".PIP"), expected) << "requests are not written";

  // Appended by the next endpoint of the name; an empty one writes nothing.
  {
    CNamedPipeCommand endpoint(name);
    ASSERT_TRUE(endpoint.QueueForDelivery("-4|neg"));
  }
  { CNamedPipeCommand empty(name + "_empty"); }
  EXPECT_EQ(folder.read("errors/" + name + ".PIP"), expected + "-04|neg\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "errors" / (name + "_empty.PIP")));
}

TEST(UndeliveredMessages, ErrorPathIsReadAtEveryDump) {
  qor::test::TempFolder folder;
  std::string name = unique_name("qor_dump");
  CNamedPipeCommand endpoint(name);
  ASSERT_TRUE(endpoint.QueueForDelivery("7|x"));

  // No file: ".\ERROR", which is not created when missing.
  endpoint.DumpUndelivered();
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "ERROR"));
  std::filesystem::create_directory(folder.path() / "ERROR");
  endpoint.DumpUndelivered();
  EXPECT_EQ(folder.read("ERROR/" + name + ".PIP"), "007|x\r\n");

  // A path that ends with "\" gets none added.
  std::filesystem::create_directories(folder.path() / "other" / "place");
  std::ofstream(folder.path() / "Rivo63.ini") << "[Global Parameters]\nError Path=.\\other\\place\\\n";
  endpoint.DumpUndelivered();
  EXPECT_EQ(folder.read("other/place/" + name + ".PIP"), "007|x\r\n");
}
