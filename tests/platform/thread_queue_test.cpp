#include "platform/thread_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "tests/helpers/msg_peer.h"
#include "tests/platform/pump_support.h"

using namespace qor::platform;

namespace {

constexpr std::uint32_t msg_test = msg_app + 0x21;

// A thread with a queue that reports its id and then waits to be let go.
class QueueThread {
 public:
  explicit QueueThread(bool with_queue = true) {
    thread_ = std::thread([this, with_queue] {
      if (with_queue) create_thread_queue();
      id_ = current_thread_id();
      ready_.set();
      release_.wait(wait_forever);
    });
    ready_.wait(wait_forever);
  }
  ~QueueThread() { end(); }
  void end() {
    release_.set();
    if (thread_.joinable()) thread_.join();
  }
  ThreadId id() const { return id_; }

 private:
  std::thread thread_;
  ThreadId id_ = 0;
  Event ready_, release_;
};

// Takes every message waiting now.
std::vector<Message> take_all() {
  std::vector<Message> got;
  Message m;
  while (peek_message(m, true)) got.push_back(m);
  return got;
}

}  // namespace

TEST(ThreadQueue, ThreadIdsAreDistinctPerThread) {
  ThreadId mine = current_thread_id();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(mine, current_thread_id());
  QueueThread other;
  EXPECT_NE(other.id(), 0u);
  EXPECT_NE(other.id(), mine);
}

TEST(ThreadQueue, PeekKeepsTheMessageAndGetTakesThemInPostOrder) {
  ASSERT_TRUE(create_thread_queue());
  take_all();
  for (std::uint32_t i = 0; i < 3; ++i) ASSERT_TRUE(post_thread_message(current_thread_id(), msg_test, i, ~i));

  Message m;
  ASSERT_TRUE(peek_message(m, false));
  EXPECT_EQ(m.id, msg_test);
  EXPECT_EQ(m.wparam, 0u);
  ASSERT_TRUE(peek_message(m, false)) << "a peek without remove leaves the message queued";
  EXPECT_EQ(m.wparam, 0u);

  for (std::uint32_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(get_message(m));
    EXPECT_EQ(m.window, no_window);
    EXPECT_EQ(m.id, msg_test);
    EXPECT_EQ(m.wparam, i);
    EXPECT_EQ(m.lparam, ~i);
  }
  EXPECT_FALSE(peek_message(m, false));
}

TEST(ThreadQueue, GetReportsTheQuitMessageAsFalse) {
  ASSERT_TRUE(create_thread_queue());
  take_all();
  ASSERT_TRUE(post_thread_message(current_thread_id(), msg_test, 1, 0));
  ASSERT_TRUE(post_thread_message(current_thread_id(), msg_quit, 7, 0));
  Message m;
  EXPECT_TRUE(get_message(m));
  EXPECT_FALSE(get_message(m));
  EXPECT_EQ(m.id, msg_quit);
  EXPECT_EQ(m.wparam, 7u) << "the exit code travels in wparam";
}

TEST(ThreadQueue, PostToAThreadWithoutAQueueFails) {
  QueueThread without(false);
  EXPECT_FALSE(post_thread_message(without.id(), msg_test, 0, 0));

  QueueThread ended;
  ThreadId gone = ended.id();
  ASSERT_TRUE(post_thread_message(gone, msg_test, 0, 0));
  ended.end();
  EXPECT_FALSE(post_thread_message(gone, msg_test, 0, 0)) << "the queue ends with its thread";

  EXPECT_FALSE(post_thread_message(0, msg_test, 0, 0));
}

TEST(ThreadQueue, ManyPostsOfAnotherThreadArriveInOrderWhileTheReceiverWaits) {
  ASSERT_TRUE(create_thread_queue());
  take_all();
  ThreadId me = current_thread_id();
  constexpr std::uint32_t count = 5000;
  std::atomic<std::uint32_t> failed{0};
  std::thread poster([&] {
    for (std::uint32_t i = 0; i < count; ++i)
      if (!post_thread_message(me, msg_test, i, 0)) ++failed;
    post_thread_message(me, msg_quit, 0, 0);
  });
  std::uint32_t expected = 0;
  bool in_order = true;
  Message m;
  while (get_message(m)) {
    if (m.id != msg_test) continue;
    in_order = in_order && m.wparam == expected;
    ++expected;
  }
  poster.join();
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(expected, count);
  EXPECT_TRUE(in_order);
}

TEST(ThreadQueue, WaitMessageWakesForAPostAndTimesOutWithout) {
  ASSERT_TRUE(create_thread_queue());
  take_all();
  std::uint32_t start = tick_ms();
  EXPECT_FALSE(wait_message(60));
  EXPECT_GE(tick_ms() - start, 44u);

  ThreadId me = current_thread_id();
  std::thread poster([me] {
    sleep_ms(30);
    post_thread_message(me, msg_test, 5, 0);
  });
  EXPECT_TRUE(wait_message(10000));
  poster.join();
  Message m;
  ASSERT_TRUE(peek_message(m, true));
  EXPECT_EQ(m.wparam, 5u);
  EXPECT_TRUE(wait_message(0) == false);
}

TEST(ThreadQueue, PostsFromAnotherProcessAndAThreadEachKeepTheirOrder) {
  ASSERT_TRUE(create_thread_queue());
  take_all();
  ThreadId me = current_thread_id();
  constexpr std::uint32_t count = 3000;
  constexpr std::uint32_t process_tag = 1, thread_tag = 2;
  std::uint32_t next[3] = {0, 0, 0};
  bool done[3] = {false, false, false};
  bool in_order = true;
  auto seen = [&](const Message& m) {
    if (m.lparam != process_tag && m.lparam != thread_tag) return;
    if (m.id == msg_peer::msg_item) {
      in_order = in_order && m.wparam == next[m.lparam];
      next[m.lparam] = m.wparam + 1;
    } else if (m.id == msg_peer::msg_done) {
      done[m.lparam] = true;
    }
  };
  std::thread local_poster([&] {
    for (std::uint32_t i = 0; i < count; ++i) post_thread_message(me, msg_peer::msg_item, i, thread_tag);
    post_thread_message(me, msg_peer::msg_done, count, thread_tag);
  });
  int code = pump::run_peer(
      "post " + std::to_string(me) + " " + std::to_string(count) + " " + std::to_string(process_tag), seen);
  pump::until([&] { return done[thread_tag]; }, 20000, seen);
  local_poster.join();
  EXPECT_EQ(code, 0) << "every post of the other process succeeded";
  EXPECT_TRUE(done[process_tag]);
  EXPECT_TRUE(done[thread_tag]);
  EXPECT_EQ(next[process_tag], count);
  EXPECT_EQ(next[thread_tag], count);
  EXPECT_TRUE(in_order);
}

TEST(ThreadQueue, PostFromAnotherProcessToAThreadWithoutAQueueFails) {
  QueueThread without(false);
  EXPECT_EQ(pump::run_peer("post " + std::to_string(without.id()) + " 1 0"), 1);
}
