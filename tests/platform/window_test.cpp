#include "platform/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/process.h"
#include "platform/thread_queue.h"
#include "tests/helpers/msg_peer.h"
#include "tests/platform/pump_support.h"
#include "tests/support/test_support.h"

using namespace qor::platform;

namespace {

constexpr std::uint32_t msg_private = msg_app + 0x33;
constexpr std::uint32_t msg_request = 0x83FF;  // a private number that carries a block

// What a handler saw, copied out of the call.
struct Seen {
  ThreadId thread = 0;
  WindowHandle window = no_window;
  std::uint32_t id = 0, wparam = 0, lparam = 0;
  bool has_data = false;
  std::vector<unsigned char> bytes;
};

// A window of the calling thread that records every message and answers
// with `answer` (std::nullopt: default processing) or, for a data message,
// with the checksum of its bytes.
class RecordingWindow {
 public:
  explicit RecordingWindow(const std::string& title, HandlerResult answer = 0,
                           std::vector<std::uint32_t> data_messages = {})
      : title_(title), answer_(answer) {
    handle_ = create_window(
        title,
        [this](WindowHandle window, const WindowMessage& m) -> HandlerResult {
          Seen s;
          s.thread = current_thread_id();
          s.window = window;
          s.id = m.id;
          s.wparam = m.wparam;
          s.lparam = m.lparam;
          s.has_data = m.has_data;
          if (m.has_data) {
            const auto* p = static_cast<const unsigned char*>(m.data);
            s.bytes.assign(p, p + m.size);
          }
          seen.push_back(s);
          if (m.has_data) return msg_peer::checksum(m.data, m.size);
          return answer_;
        },
        std::move(data_messages));
  }
  ~RecordingWindow() {
    if (is_window(handle_)) destroy_window(handle_);
  }
  WindowHandle handle() const { return handle_; }
  const std::string& title() const { return title_; }
  std::size_t count(std::uint32_t id) const {
    return static_cast<std::size_t>(
        std::count_if(seen.begin(), seen.end(), [id](const Seen& s) { return s.id == id; }));
  }
  std::vector<Seen> seen;

 private:
  std::string title_;
  HandlerResult answer_;
  WindowHandle handle_ = no_window;
};

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A send from another thread of this process, which reports when it returns.
class Sender {
 public:
  template <typename F>
  explicit Sender(F send)
      : thread_([this, send] {
          result_ = send();
          done_.set();
        }) {}
  ~Sender() { thread_.join(); }
  bool returned(std::uint32_t wait_ms = 0) {
    if (finished_ || done_.wait(wait_ms)) finished_ = true;
    return finished_;
  }
  // Valid once returned().
  std::optional<std::uint32_t> result() const { return result_; }

 private:
  std::optional<std::uint32_t> result_;
  Event done_{true, false};
  bool finished_ = false;
  std::thread thread_;
};

// Pumps until the sender has returned (sanity bound 20 s), then its result.
std::optional<std::uint32_t> pump_until_returned(Sender& sender) {
  pump::until([&] { return sender.returned(); });
  EXPECT_TRUE(sender.returned()) << "the send never returned";
  return sender.returned() ? sender.result() : std::nullopt;
}

}  // namespace

TEST(Window, IsFoundByTitleInAnyCaseHereAndFromAnotherProcess) {
  RecordingWindow window(qor::test::unique_name("QorFind"));
  ASSERT_NE(window.handle(), no_window);
  EXPECT_TRUE(is_window(window.handle()));
  for (const std::string& title : {window.title(), upper(window.title()), lower(window.title())})
    EXPECT_EQ(find_window(title), window.handle()) << title;
  EXPECT_EQ(find_window(window.title() + "x"), no_window);
  EXPECT_EQ(find_window(window.title().substr(1)), no_window);
  EXPECT_EQ(pump::run_peer("find " + quote_argument(upper(window.title()))), 0);

  EXPECT_EQ(window_process_id(window.handle()), current_process_id());
  EXPECT_EQ(window_thread_id(window.handle()), current_thread_id());
  // A top-level window is the root of its parent chain.
  EXPECT_EQ(window_parent(window.handle()), no_window);
  EXPECT_NE(desktop_window(), no_window);
  EXPECT_NE(desktop_window(), window.handle());

  ASSERT_TRUE(destroy_window(window.handle()));
  EXPECT_FALSE(is_window(window.handle()));
  EXPECT_EQ(find_window(window.title()), no_window);
  EXPECT_EQ(pump::run_peer("find " + quote_argument(window.title())), 1);
}

TEST(Window, TitlesCompareWithoutRegardToCaseBeyondAscii) {
  // "é" and "É" in the ANSI code page 1252.
  RecordingWindow window(qor::test::unique_name("QorCaf") + "\xE9");
  ASSERT_NE(window.handle(), no_window);
  std::string other = window.title();
  other.back() = '\xC9';
  EXPECT_EQ(find_window(other), window.handle());
}

TEST(Window, OnlyTheOwnerThreadDestroysItsWindow) {
  RecordingWindow window(qor::test::unique_name("QorOwned"));
  bool destroyed_elsewhere = true;
  std::thread([&] { destroyed_elsewhere = destroy_window(window.handle()); }).join();
  EXPECT_FALSE(destroyed_elsewhere);
  EXPECT_TRUE(is_window(window.handle()));
}

TEST(Window, CopyDataFromAnotherProcessArrivesIntactAndReturnsTheHandlersResult) {
  RecordingWindow window(qor::test::unique_name("QorCopy"));
  ASSERT_NE(window.handle(), no_window);
  // The request and data blocks of the window transport, an empty block, and
  // one larger than a native send packet.
  for (std::uint32_t size : {1088u, 1092u, 0u, 200000u}) {
    SCOPED_TRACE(size);
    window.seen.clear();
    EXPECT_EQ(pump::run_peer("send " + quote_argument(window.title()) + " " + std::to_string(size) + " 4242"), 0);
    ASSERT_EQ(window.count(msg_copydata), 1u);
    const Seen& s = window.seen.front();
    EXPECT_EQ(s.thread, current_thread_id()) << "handled on the owner thread";
    EXPECT_EQ(s.window, window.handle());
    EXPECT_EQ(s.wparam, 4242u);
    EXPECT_EQ(s.lparam, msg_peer::tag);
    EXPECT_TRUE(s.has_data);
    EXPECT_TRUE(s.bytes == msg_peer::pattern(size));
  }
}

TEST(Window, ASendWaitsUntilTheOwnerPumpsAndAPeekServesIt) {
  RecordingWindow window(qor::test::unique_name("QorWait"), 77);
  ASSERT_TRUE(post_thread_message(current_thread_id(), msg_private, 1, 0));

  std::vector<unsigned char> block = msg_peer::pattern(1088);
  Sender copy([&] { return send_data(window.handle(), msg_copydata, 1, 2, block.data(), 1088); });
  sleep_ms(100);  // the owner does not pump
  EXPECT_FALSE(copy.returned()) << "the send returned before the owner pumped";
  EXPECT_TRUE(window.seen.empty());

  // Peeking alone serves it, and leaves the posted message queued.
  auto result = [&]() -> std::optional<std::uint32_t> {
    Message m;
    std::uint32_t start = tick_ms();
    while (!copy.returned(5) && tick_ms() - start < 20000) peek_message(m, false);
    return copy.returned() ? copy.result() : std::nullopt;
  }();
  EXPECT_EQ(result, msg_peer::checksum(block.data(), 1088));
  Message m;
  ASSERT_TRUE(peek_message(m, true));
  EXPECT_EQ(m.id, msg_private);

  // So does serve_sent_messages, for a plain sent message.
  Sender plain([&] { return send_message(window.handle(), msg_private, 5, 6); });
  std::uint32_t start = tick_ms();
  while (!plain.returned(5) && tick_ms() - start < 20000) serve_sent_messages();
  ASSERT_TRUE(plain.returned());
  EXPECT_EQ(plain.result(), 77u);
  ASSERT_EQ(window.seen.size(), 2u);
  EXPECT_EQ(window.seen[1].wparam, 5u);
  EXPECT_EQ(window.seen[1].lparam, 6u);
  EXPECT_FALSE(window.seen[1].has_data);
}

TEST(Window, SendsFromTheOwnerThreadCallTheHandlerAtOnce) {
  RecordingWindow window(qor::test::unique_name("QorDirect"), 5, {msg_request});
  EXPECT_EQ(send_message(window.handle(), msg_private, 1, 2), 5u);
  std::vector<unsigned char> block = msg_peer::pattern(1088);
  EXPECT_EQ(send_data(window.handle(), msg_request, 9, 3, block.data(), 1088), msg_peer::checksum(block.data(), 1088));
  ASSERT_EQ(window.seen.size(), 2u);
  EXPECT_TRUE(window.seen[1].has_data);
  EXPECT_EQ(window.seen[1].wparam, 9u);
  EXPECT_EQ(window.seen[1].lparam, 3u);
  EXPECT_TRUE(window.seen[1].bytes == block);
}

TEST(Window, PrivateDataMessagesReachOnlyWindowsOfThisProcessThatExpectThem) {
  RecordingWindow window(qor::test::unique_name("QorPrivate"), 0, {msg_request});
  std::vector<unsigned char> block = msg_peer::pattern(1092);
  // From another thread of this process: carried, and served by the pump.
  Sender listed([&] { return send_data(window.handle(), msg_request, 1, 0, block.data(), 1092); });
  EXPECT_EQ(pump_until_returned(listed), msg_peer::checksum(block.data(), 1092));
  ASSERT_EQ(window.count(msg_request), 1u);
  EXPECT_TRUE(window.seen[0].bytes == block);

  // A number the window does not expect, and copy-data through the plain
  // calls: refused before anything is sent.
  EXPECT_EQ(send_data(window.handle(), msg_request + 1, 1, 0, block.data(), 1092), std::nullopt);
  EXPECT_EQ(send_message(window.handle(), msg_copydata, 0, 0), std::nullopt);
  EXPECT_FALSE(post_message(window.handle(), msg_copydata, 0, 0));

  // From another process the block's address would mean nothing.
  EXPECT_EQ(pump::run_peer("send " + quote_argument(window.title()) + " 1092 1 " + std::to_string(msg_request)), 2);
  EXPECT_EQ(window.count(msg_request), 1u);
}

TEST(Window, SendsToAWindowThatIsGoneFail) {
  std::vector<unsigned char> block = msg_peer::pattern(1088);
  auto copy_to = [&](WindowHandle w) { return send_data(w, msg_copydata, 0, 0, block.data(), 1088); };

  WindowHandle destroyed;
  {
    RecordingWindow window(qor::test::unique_name("QorGone"), 1);
    destroyed = window.handle();
  }
  // A window whose thread has ended is gone with it.
  WindowHandle orphaned = no_window;
  std::string orphan_title = qor::test::unique_name("QorOrphan");
  std::thread([&] { orphaned = create_window(orphan_title, nullptr); }).join();
  ASSERT_NE(orphaned, no_window);
  EXPECT_EQ(find_window(orphan_title), no_window);

  for (WindowHandle w : {destroyed, orphaned, no_window}) {
    Sender sender([&] { return copy_to(w); });
    EXPECT_EQ(pump_until_returned(sender), std::nullopt);
    EXPECT_EQ(send_message(w, msg_private, 0, 0), std::nullopt);
    EXPECT_FALSE(post_message(w, msg_private, 0, 0));
  }
}

TEST(Window, ASendFailsWhenTheOwnerProcessEndsBeforeAnswering) {
  std::string title = qor::test::unique_name("QorDying");
  Process owner = pump::start_peer("own " + quote_argument(title));
  ASSERT_TRUE(owner);
  WindowHandle window = no_window;
  pump::until([&] { return (window = find_window(title)) != no_window || !owner.running(); });
  ASSERT_NE(window, no_window);
  std::vector<unsigned char> block = msg_peer::pattern(1088);
  Sender sender([&] { return send_data(window, msg_copydata, 0, 0, block.data(), 1088); });
  sleep_ms(100);
  EXPECT_FALSE(sender.returned()) << "the owner never pumps";
  owner.kill();
  owner.wait(10000);
  EXPECT_EQ(pump_until_returned(sender), std::nullopt);
  EXPECT_EQ(find_window(title), no_window);
}

TEST(Window, PostedMessagesReachTheHandlerThroughThePumpInOrder) {
  RecordingWindow window(qor::test::unique_name("QorPosted"), 3);
  std::thread([&] {
    post_message(window.handle(), msg_private, 10, 20);
    post_message(window.handle(), msg_private + 1, 11, 21);
  }).join();
  EXPECT_EQ(pump::run_peer("post_window " + quote_argument(window.title()) + " " + std::to_string(msg_close) + " 0 0"),
            0);
  pump::until([&] { return window.count(msg_close) == 1; });
  ASSERT_EQ(window.seen.size(), 3u);
  EXPECT_EQ(window.seen[0].id, msg_private);
  EXPECT_EQ(window.seen[0].wparam, 10u);
  EXPECT_EQ(window.seen[0].lparam, 20u);
  EXPECT_EQ(window.seen[1].id, msg_private + 1);
  EXPECT_EQ(window.seen[2].id, msg_close);
  EXPECT_TRUE(is_window(window.handle())) << "a handled close leaves the window";

  // Messages still queued for a window die with it.
  ASSERT_TRUE(post_message(window.handle(), msg_private, 0, 0));
  ASSERT_TRUE(destroy_window(window.handle()));
  Message m;
  EXPECT_FALSE(peek_message(m, true));
}

TEST(Window, CloseWithDefaultProcessingDestroysTheWindow) {
  RecordingWindow window(qor::test::unique_name("QorClose"), std::nullopt);
  ASSERT_TRUE(post_message(window.handle(), msg_close, 0, 0));
  Message m;
  ASSERT_TRUE(get_message(m));
  EXPECT_EQ(m.window, window.handle());
  EXPECT_EQ(m.id, msg_close);
  EXPECT_EQ(dispatch_message(m), 0u);
  EXPECT_EQ(window.count(msg_close), 1u);
  EXPECT_FALSE(is_window(window.handle()));
  EXPECT_EQ(find_window(window.title()), no_window);
}

TEST(Window, TimerTicksThroughThePumpUntilKilled) {
  RecordingWindow window(qor::test::unique_name("QorTimer"));
  ASSERT_TRUE(set_timer(window.handle(), 7, 20));
  bool from_queue_ok = true;
  auto check = [&](const Message& m) {
    if (m.id == msg_timer) from_queue_ok = from_queue_ok && m.window == window.handle() && m.wparam == 7;
  };
  EXPECT_TRUE(pump::until([&] { return window.count(msg_timer) >= 3; }, 20000, check));
  EXPECT_TRUE(from_queue_ok);
  EXPECT_EQ(window.seen.back().wparam, 7u);

  ASSERT_TRUE(kill_timer(window.handle(), 7));
  EXPECT_FALSE(kill_timer(window.handle(), 7));
  pump::drain();
  std::size_t ticks = window.count(msg_timer);
  pump::for_ms(150);
  EXPECT_EQ(window.count(msg_timer), ticks) << "no tick after kill_timer";

  bool set_elsewhere = true;
  std::thread([&] { set_elsewhere = set_timer(window.handle(), 8, 20); }).join();
  EXPECT_FALSE(set_elsewhere) << "a timer belongs to the window's own thread";
}

TEST(Window, AThreadWaitingForItsSendServesSendsToItsOwnWindows) {
  RecordingWindow mine(qor::test::unique_name("QorNestA"), 40);
  // The other window's handler sends back to ours before it answers.
  WindowHandle theirs = no_window;
  Event ready, stop;
  std::thread owner([&] {
    theirs =
        create_window(qor::test::unique_name("QorNestB"), [&](WindowHandle, const WindowMessage& m) -> HandlerResult {
          if (m.id != msg_private) return std::nullopt;
          auto inner = send_message(mine.handle(), msg_private + 1, 0, 0);
          return inner ? *inner + 2 : 0;
        });
    ready.set();
    while (!stop.wait(0)) {
      wait_message(10);
      pump::drain();
    }
    destroy_window(theirs);
  });
  ready.wait(wait_forever);
  EXPECT_EQ(send_message(theirs, msg_private, 0, 0), 42u);
  EXPECT_EQ(mine.count(msg_private + 1), 1u);
  stop.set();
  owner.join();
}
