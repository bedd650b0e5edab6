// The endpoints' pipe threads, seen from raw pipe clients that know only the
// bytes of the protocol.
#include "pipehost/pipe_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/names.h"
#include "link/protocol.h"
#include "pipehost/named_pipe_command.h"
#include "platform/clock.h"
#include "platform/named_pipe.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

using namespace qor::pipehost;
using qor::link::Verdict;
using qor::platform::PipeClient;
using qor::platform::sleep_ms;
using qor::platform::tick_ms;
using qor::test::unique_name;

namespace {

constexpr std::uint32_t generous_ms = 20000;
const std::string ENQ(1, qor::link::ENQ), ACK(1, qor::link::ACK), NAK(1, qor::link::NAK), SYN(1, qor::link::SYN);

// Polls `done` until it holds, at most generous_ms.
bool eventually(const std::function<bool()>& done) {
  std::uint32_t start = tick_ms();
  while (!done()) {
    if (tick_ms() - start > generous_ms) return false;
    sleep_ms(2);
  }
  return true;
}

// Opens the pipe of `name`, retrying while no instance listens yet.
std::unique_ptr<PipeClient> connect(const std::string& name) {
  std::unique_ptr<PipeClient> client;
  eventually([&] { return (client = PipeClient::open(qor::link::pipe_path(".", name))) != nullptr; });
  return client;
}

bool send(PipeClient& client, const std::string& bytes) { return client.write_message(bytes.data(), bytes.size()); }

// What waits on the client after bytes arrive within `wait_ms`; nothing
// when none arrive or the pipe broke.
std::optional<std::string> receive(PipeClient& client, std::uint32_t wait_ms = generous_ms) {
  std::uint32_t start = tick_ms();
  for (;;) {
    auto waiting = client.peek();
    if (!waiting) return std::nullopt;
    if (waiting->total > 0) break;
    if (tick_ms() - start > wait_ms) return std::nullopt;
    sleep_ms(1);
  }
  std::vector<char> buffer(qor::link::message_buffer_size);
  auto n = client.read(buffer.data(), buffer.size());
  if (!n) return std::nullopt;
  return std::string(buffer.data(), *n);
}

std::string shown(const std::optional<std::string>& bytes) {
  if (!bytes) return "<nothing>";
  std::string out;
  for (unsigned char c : *bytes) out += c < 0x20 ? "<" + std::to_string(c) + ">" : std::string(1, static_cast<char>(c));
  return out;
}

// A short look for a reply that must not come.
constexpr std::uint32_t no_reply_ms = 200;

bool broken(PipeClient& client) {
  return eventually([&] { return !client.peek().has_value(); });
}

bool settled(const CNamedPipeCommand& endpoint, std::size_t pending) {
  return eventually([&] { return endpoint.in_progress_count() == 0 && endpoint.pending_count() == pending; });
}

// The process-wide names decide an endpoint's kind: each test gets names of
// its own and leaves the defaults behind.
class Endpoints : public ::testing::Test {
 protected:
  Endpoints() {
    set_answer_pipe_name(answer_name);
    endpoint_globals().monitorPipeName = monitor_name;
  }
  ~Endpoints() override {
    set_answer_pipe_name("QORNet");
    endpoint_globals().monitorPipeName = monitor_endpoint_name;
    endpoint_globals().joinStoppedThreads = true;
  }
  const std::string answer_name = unique_name("qor_answer");
  const std::string monitor_name = unique_name("qor_monitor");
  const std::string data_name = unique_name("qor_data");
};

// --- data pipes ---------------------------------------------------------------------

TEST_F(Endpoints, DataPipeAnswersEnqOnlyWhenAMessageIsPending) {
  CNamedPipeCommand endpoint(data_name);
  EXPECT_EQ(endpoint.kind(), CNamedPipeCommand::Kind::data);
  auto client = connect(data_name);
  ASSERT_TRUE(client);

  ASSERT_TRUE(send(*client, ENQ));
  ASSERT_TRUE(send(*client, "not a poll"));
  EXPECT_EQ(shown(receive(*client, no_reply_ms)), "<nothing>");

  ASSERT_TRUE(endpoint.QueueForDelivery("5|ORD|data"));
  ASSERT_TRUE(send(*client, ENQ));
  EXPECT_EQ(shown(receive(*client)), "5|ORD|data");
  ASSERT_TRUE(send(*client, ACK));
  EXPECT_TRUE(settled(endpoint, 0));

  // The same connection goes on: the next message at the next poll.
  ASSERT_TRUE(endpoint.QueueForDelivery("0|plain"));
  ASSERT_TRUE(send(*client, ENQ));
  EXPECT_EQ(shown(receive(*client)), "plain");
}

TEST_F(Endpoints, DataPipeCountsAnyReceiptAsDelivered) {
  CNamedPipeCommand endpoint(data_name);
  auto client = connect(data_name);
  ASSERT_TRUE(client);
  for (const std::string& receipt : {ACK, NAK, std::string("whatever")}) {
    ASSERT_TRUE(endpoint.QueueForDelivery("7|T|" + shown(receipt)));
    ASSERT_TRUE(send(*client, ENQ));
    EXPECT_EQ(shown(receive(*client)), "7|T|" + shown(receipt));
    ASSERT_TRUE(send(*client, receipt));
    EXPECT_TRUE(settled(endpoint, 0)) << shown(receipt);
  }
}

TEST_F(Endpoints, DataPipeRequeuesFirstInLineWhenTheReceiptFails) {
  CNamedPipeCommand endpoint(data_name);
  ASSERT_TRUE(endpoint.QueueForDelivery("1|T|first"));
  ASSERT_TRUE(endpoint.QueueForDelivery("2|T|second"));
  {
    auto vanishing = connect(data_name);
    ASSERT_TRUE(vanishing);
    ASSERT_TRUE(send(*vanishing, ENQ));
    EXPECT_EQ(shown(receive(*vanishing)), "1|T|first");
  }  // gone without a receipt
  EXPECT_TRUE(settled(endpoint, 2));

  auto client = connect(data_name);
  ASSERT_TRUE(client);
  ASSERT_TRUE(send(*client, ENQ));
  EXPECT_EQ(shown(receive(*client)), "1|T|first");
  ASSERT_TRUE(send(*client, ACK));
  ASSERT_TRUE(send(*client, ENQ));
  EXPECT_EQ(shown(receive(*client)), "2|T|second");
  ASSERT_TRUE(send(*client, ACK));
  EXPECT_TRUE(settled(endpoint, 0));
}

// A client that connects just as the only other one leaves is served: the
// successor started for the first client listens before that client is
// served, so the name is never left without a listening instance.
TEST_F(Endpoints, DataPipeServesAClientThatArrivesAsTheOnlyOtherOneLeaves) {
  CNamedPipeCommand endpoint(data_name);
  for (int round = 0; round < 200; ++round) {
    std::string text = "1|T|" + std::to_string(round);
    ASSERT_TRUE(endpoint.QueueForDelivery(text));
    ASSERT_TRUE(connect(data_name)) << "round " << round;  // opened and closed at once
    auto client = connect(data_name);
    ASSERT_TRUE(client);
    ASSERT_TRUE(send(*client, ENQ)) << "round " << round;
    ASSERT_EQ(shown(receive(*client)), text) << "round " << round;
    ASSERT_TRUE(send(*client, ACK));
  }
}

// `clients` connections poll one data pipe for `messages` messages at once,
// each the way a host does (ENQ, wait, read, ACK); returns how often each
// message arrived. The clients close only once every receipt is in.
std::map<int, int> deliver_to_many(CNamedPipeCommand& endpoint, const std::string& name, int clients, int messages) {
  for (int i = 0; i < messages; ++i) EXPECT_TRUE(endpoint.QueueForDelivery("#" + std::to_string(i) + "."));
  std::vector<std::unique_ptr<PipeClient>> ends(clients);
  std::mutex lock;
  std::map<int, int> arrived;
  std::atomic<int> total{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      ends[c] = connect(name);
      if (!ends[c]) {
        ++failures;
        return;
      }
      PipeClient& client = *ends[c];
      std::uint32_t start = tick_ms();
      while (total < messages && tick_ms() - start < 4 * generous_ms) {
        if (!send(client, ENQ)) {
          ++failures;
          return;
        }
        auto got = receive(client, 100);
        if (!got) continue;
        // Texts are "#<i>."; two deliveries read at once are both counted.
        std::lock_guard<std::mutex> hold(lock);
        for (std::size_t at = got->find('#'); at != std::string::npos; at = got->find('#', at + 1)) {
          ++arrived[std::stoi(got->substr(at + 1))];
          ++total;
        }
        send(client, ACK);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(settled(endpoint, 0));
  return arrived;
}

void expect_each_once(const std::map<int, int>& arrived, int messages) {
  EXPECT_EQ(arrived.size(), static_cast<std::size_t>(messages));
  for (const auto& [message, count] : arrived) EXPECT_EQ(count, 1) << "message " << message;
}

TEST_F(Endpoints, DataPipeDeliversEachMessageOnceToTwoClients) {
  CNamedPipeCommand endpoint(data_name);
  expect_each_once(deliver_to_many(endpoint, data_name, 2, 200), 200);
}

TEST_F(Endpoints, DataPipeDeliversEachMessageOnceToAHundredClients) {
  CNamedPipeCommand endpoint(data_name);
  expect_each_once(deliver_to_many(endpoint, data_name, CNamedPipeThread::max_instances, 1000), 1000);

  // Every allowed instance served a client, so the successor of the last
  // one could not be made; once they have closed, the name listens again.
  EXPECT_TRUE(eventually([&] { return endpoint.thread_count() == 1; }));
  ASSERT_TRUE(endpoint.QueueForDelivery("9|T|after"));
  std::optional<std::string> got;
  eventually([&] {
    // On native, a client that came while the last closing instance took
    // the name's socket along is dropped; a host then opens the pipe again.
    auto client = connect(data_name);
    if (client && send(*client, ENQ)) got = receive(*client);
    return got.has_value();
  });
  EXPECT_EQ(shown(got), "9|T|after");
}

// --- the answer pipe ------------------------------------------------------------------

// The request the link server would take next, once it is queued.
std::unique_ptr<CTcpipMessage> next_request(CNamedPipeCommand& endpoint) {
  std::unique_ptr<CTcpipMessage> request;
  eventually([&] { return (request = endpoint.TakeRequest()) != nullptr; });
  return request;
}

TEST_F(Endpoints, AnswerPipeRepliesWithTheVerdictOfEachSynRequest) {
  CNamedPipeCommand endpoint(answer_name);
  EXPECT_EQ(endpoint.kind(), CNamedPipeCommand::Kind::answer);
  EXPECT_EQ(endpoint_globals().answerEndpoint, &endpoint);
  auto client = connect(answer_name);
  ASSERT_TRUE(client);

  ASSERT_TRUE(send(*client, SYN + "5|" + answer_name + "_ORD|hello"));
  auto request = next_request(endpoint);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->text, "5|" + answer_name + "_ORD|hello");
  EXPECT_EQ(request->number, 0);
  ASSERT_TRUE(request->answerThread);
  // The link server takes its time.
  sleep_ms(200);
  EXPECT_EQ(shown(receive(*client, 0)), "<nothing>") << "no reply before the verdict";
  EXPECT_TRUE(GiveVerdict(*request, Verdict::reject));
  EXPECT_EQ(shown(receive(*client)), "<22><7>");

  // The next request on the connection waits for a verdict of its own.
  ASSERT_TRUE(send(*client, SYN + "CheckTerminal|12"));
  auto second = next_request(endpoint);
  ASSERT_TRUE(second);
  EXPECT_FALSE(GiveVerdict(*request, Verdict::nak)) << "the first request's wait is over";
  EXPECT_TRUE(GiveVerdict(*second, Verdict::ack));
  EXPECT_EQ(shown(receive(*client)), "<22><6>");
}

TEST_F(Endpoints, AnswerPipeRepliesSynNakWhenNoVerdictComesInTime) {
  CNamedPipeCommand endpoint(answer_name);
  auto client = connect(answer_name);
  ASSERT_TRUE(client);
  std::uint32_t start = tick_ms();
  ASSERT_TRUE(send(*client, SYN + "5|X|unanswered"));
  auto request = next_request(endpoint);  // held, as by a link server that never answers
  ASSERT_TRUE(request);
  EXPECT_EQ(shown(receive(*client)), "<22><21>");
  std::uint32_t waited = tick_ms() - start;
  EXPECT_GE(waited, CAnswerThread::verdict_wait_ms - 100);  // clock granularity
  EXPECT_LT(waited, generous_ms);
  EXPECT_FALSE(GiveVerdict(*request, Verdict::ack)) << "a verdict after the wait is dropped";
}

TEST_F(Endpoints, AnswerPipeAcksOtherRequestsAtOnceAndIgnoresControlBytes) {
  CNamedPipeCommand endpoint(answer_name);
  auto client = connect(answer_name);
  ASSERT_TRUE(client);
  for (const std::string& ignored : {ENQ, ACK, NAK, ENQ + "5|X|y"}) ASSERT_TRUE(send(*client, ignored));
  ASSERT_TRUE(send(*client, "5|X|data"));
  EXPECT_EQ(shown(receive(*client)), "<6>");
  EXPECT_EQ(endpoint.request_count(), 1u) << "acknowledged before anyone took it";
  auto request = endpoint.TakeRequest();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->text, "5|X|data");
  EXPECT_FALSE(request->answerThread);
  EXPECT_EQ(shown(receive(*client, no_reply_ms)), "<nothing>");
}

TEST_F(Endpoints, AnswerPipeReadsMessagesAsTextsOfAtMost10239Bytes) {
  CNamedPipeCommand endpoint(answer_name);
  auto client = connect(answer_name);
  ASSERT_TRUE(client);

  // Only the text before a NUL counts.
  ASSERT_TRUE(send(*client, std::string("5|X|ab\0cd", 9)));
  EXPECT_EQ(shown(receive(*client)), "<6>");
  auto cut = endpoint.TakeRequest();
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->text, "5|X|ab");

  std::string longest(qor::link::max_message_length, 'x');
  ASSERT_TRUE(send(*client, longest));
  EXPECT_EQ(shown(receive(*client)), "<6>");
  auto whole = endpoint.TakeRequest();
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->text.size(), longest.size());

  // One byte more fails the read, which ends the connection unanswered.
  ASSERT_TRUE(send(*client, longest + "x"));
  EXPECT_TRUE(broken(*client));
  EXPECT_EQ(endpoint.request_count(), 0u);

  auto again = connect(answer_name);
  ASSERT_TRUE(again);
  ASSERT_TRUE(send(*again, "1|X|still served"));
  EXPECT_EQ(shown(receive(*again)), "<6>");
}

TEST_F(Endpoints, ASecondAnswerOrMonitorEndpointServesNobody) {
  for (const std::string& name : {answer_name, monitor_name}) {
    CNamedPipeCommand first(name);
    CNamedPipeCommand* const& reference =
        name == answer_name ? endpoint_globals().answerEndpoint : endpoint_globals().monitorEndpoint;
    EXPECT_EQ(reference, &first) << name;
    EXPECT_EQ(first.thread_count(), 1u) << name;
    {
      CNamedPipeCommand second(name);
      EXPECT_EQ(second.thread_count(), 0u) << name;
      EXPECT_EQ(reference, &first) << name;
    }
    EXPECT_EQ(reference, &first) << "the second one's end leaves the reference alone: " << name;

    // The first still serves its pipe.
    ASSERT_TRUE(first.QueueForDelivery("3|T|m"));
    auto client = connect(name);
    ASSERT_TRUE(client) << name;
    ASSERT_TRUE(send(*client, name == answer_name ? "1|X|y" : ENQ));
    EXPECT_EQ(shown(receive(*client)), name == answer_name ? "<6>" : "3|T|m") << name;
  }
  EXPECT_EQ(endpoint_globals().answerEndpoint, nullptr);
  EXPECT_EQ(endpoint_globals().monitorEndpoint, nullptr);
}

// --- the monitor pipe -------------------------------------------------------------------

TEST_F(Endpoints, MonitorPipeDeliversOnEnqAndSynPolls) {
  CNamedPipeCommand endpoint(monitor_name);
  EXPECT_EQ(endpoint.kind(), CNamedPipeCommand::Kind::monitor);
  EXPECT_EQ(endpoint_globals().monitorEndpoint, &endpoint);
  endpoint.set_monitorState(2);
  for (const char* text : {"1|MON|a", "2|MON|b", "3|MON|c"}) ASSERT_TRUE(endpoint.QueueForDelivery(text));

  auto client = connect(monitor_name);
  ASSERT_TRUE(client);
  ASSERT_TRUE(send(*client, SYN));
  EXPECT_EQ(shown(receive(*client)), "1|MON|a");
  ASSERT_TRUE(send(*client, ACK));
  ASSERT_TRUE(send(*client, ENQ));
  EXPECT_EQ(shown(receive(*client)), "2|MON|b");
  ASSERT_TRUE(send(*client, NAK));
  ASSERT_TRUE(send(*client, "other"));
  EXPECT_EQ(shown(receive(*client, no_reply_ms)), "<nothing>");
  EXPECT_TRUE(settled(endpoint, 1));
  EXPECT_EQ(endpoint.monitorState(), 2);

  // A monitor message whose receipt fails is not shown again, and the end of
  // a monitor connection closes the monitor.
  ASSERT_TRUE(send(*client, ENQ));
  EXPECT_EQ(shown(receive(*client)), "3|MON|c");
  client.reset();
  EXPECT_TRUE(eventually([&] { return endpoint.monitorState() == 0; }));
  EXPECT_TRUE(settled(endpoint, 0));
}

// --- destruction ----------------------------------------------------------------------------

TEST_F(Endpoints, DestructionStopsThreadsBlockedInWaitsAndReads) {
  qor::test::TempFolder folder;  // undelivered messages go to .\ERROR
  std::filesystem::create_directory(folder.path() / "ERROR");
  for (int round = 0; round < 5; ++round) {
    std::string name = data_name + "_" + std::to_string(round);
    // Every other round as under the Windows loader lock: the threads are
    // left to end by themselves once they have let go of the endpoint.
    endpoint_globals().joinStoppedThreads = round % 2 == 0;
    std::unique_ptr<PipeClient> idle, mid_delivery;
    {
      CNamedPipeCommand endpoint(name);
      ASSERT_TRUE(endpoint.QueueForDelivery("1|T|taken"));
      ASSERT_TRUE(endpoint.QueueForDelivery("2|T|waiting"));
      idle = connect(name);  // its thread blocks in a read
      mid_delivery = connect(name);
      ASSERT_TRUE(idle && mid_delivery);
      ASSERT_TRUE(send(*mid_delivery, ENQ));
      // Its thread blocks reading the receipt, which never comes.
      ASSERT_EQ(shown(receive(*mid_delivery)), "1|T|taken");
      EXPECT_GE(endpoint.thread_count(), 3u) << "two serving, one listening";
    }
    EXPECT_TRUE(broken(*idle));
    EXPECT_TRUE(broken(*mid_delivery));
    // Nothing was lost: the interrupted delivery went back first in line.
    EXPECT_EQ(folder.read("ERROR/" + name + ".PIP"), "001|T|taken\r\n002|T|waiting\r\n");
    EXPECT_FALSE(PipeClient::open(qor::link::pipe_path(".", name))) << "nobody listens any more";

    // Destroyed before its first thread made its instance.
    { CNamedPipeCommand endpoint(name + "_at_once"); }
  }
}

TEST_F(Endpoints, DestructionEndsAVerdictWaitAndTheRequestOutlivesIt) {
  std::unique_ptr<CTcpipMessage> request;
  std::unique_ptr<PipeClient> client;
  {
    CNamedPipeCommand endpoint(answer_name);
    client = connect(answer_name);
    ASSERT_TRUE(client);
    ASSERT_TRUE(send(*client, SYN + "5|X|wait"));
    request = next_request(endpoint);
    ASSERT_TRUE(request);
  }
  EXPECT_EQ(endpoint_globals().answerEndpoint, nullptr);
  EXPECT_TRUE(broken(*client));
  // The link server still holds the request: its verdict goes nowhere.
  EXPECT_FALSE(GiveVerdict(*request, Verdict::ack));
}

}  // namespace
