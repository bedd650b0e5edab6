#pragma once
// Servers that follow a script, for the timing and ordering rules of the
// client: a named pipe that answers each message as the test says, and a
// window that takes request blocks and posts the replies the test chooses.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/blocks.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/named_pipe.h"
#include "platform/thread_queue.h"
#include "platform/window.h"

namespace qor::test {

// A pipe that serves every client that connects, each on its own thread.
// `answer` gets the connection number (0, 1, ...) and each message read, and
// writes what it likes to the server end.
class ScriptedPipe {
 public:
  using Answer = std::function<void(int connection, const std::string& message, platform::PipeServer& server)>;

  ScriptedPipe(const std::string& name, Answer answer) : path_("\\\\.\\PIPE\\" + name), answer_(std::move(answer)) {
    listen();
  }

  ~ScriptedPipe() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> no_more(spawn_lock_);
      stopping_ = true;
      threads = std::move(threads_);
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      for (auto& server : servers_) server->cancel();
    }
    for (auto& thread : threads) thread.join();
  }

  // Every message read, in order, across connections.
  std::vector<std::string> received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }
  int connections() const { return connections_; }

 private:
  void listen() {
    auto server = platform::PipeServer::create(path_, 10);
    if (!server) return;
    platform::PipeServer* raw = server.get();
    {
      std::lock_guard<std::mutex> hold(lock_);
      servers_.push_back(std::move(server));
    }
    threads_.emplace_back([this, raw] { serve(*raw); });
  }

  void serve(platform::PipeServer& server) {
    if (!server.wait_for_client() || stopping_) return;
    int number = connections_++;
    {
      // The next client gets an instance of its own at once.
      std::lock_guard<std::mutex> hold(spawn_lock_);
      if (!stopping_) listen();
    }
    char buffer[10240];
    while (!stopping_) {
      auto n = server.read_message(buffer, sizeof buffer);
      if (!n) return;
      std::string message(buffer, *n);
      {
        std::lock_guard<std::mutex> hold(lock_);
        received_.push_back(message);
      }
      answer_(number, message, server);
    }
  }

  std::string path_;
  Answer answer_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::mutex lock_;
  std::mutex spawn_lock_;
  std::vector<std::unique_ptr<platform::PipeServer>> servers_;
  std::vector<std::thread> threads_;
  std::vector<std::string> received_;
};

inline bool write(platform::PipeServer& server, const std::string& bytes) {
  return server.write_message(bytes.data(), bytes.size());
}

// A server window titled `title` on a thread of its own. `answer` gets each
// request block and the client's reply thread, on the window's thread.
class ScriptedWindow {
 public:
  using Answer = std::function<void(const link::RequestBlock& block, platform::ThreadId reply_to)>;

  ScriptedWindow(const std::string& title, Answer answer) : answer_(std::move(answer)) {
    thread_ = std::thread([this, title] {
      platform::WindowHandle window = platform::create_window(
          title, [this](platform::WindowHandle, const platform::WindowMessage& m) -> platform::HandlerResult {
            if (m.id != platform::msg_copydata || !m.has_data) return std::nullopt;
            link::RequestBlock block;
            if (!link::decode_request_block(m.data, m.size, block)) return 0u;
            {
              std::lock_guard<std::mutex> hold(lock_);
              blocks_.push_back(block);
            }
            answer_(block, m.wparam);
            return 1u;
          });
      window_ = window;
      ready_.set();
      platform::Message message;
      while (!stop_) {
        platform::wait_message(10);
        while (platform::peek_message(message, true)) platform::dispatch_message(message);
        run_queued();
      }
      platform::destroy_window(window);
    });
    ready_.wait(platform::wait_forever);
  }

  ~ScriptedWindow() {
    stop_ = true;
    thread_.join();
  }

  bool created() const { return window_ != platform::no_window; }

  std::vector<link::RequestBlock> blocks() {
    std::lock_guard<std::mutex> hold(lock_);
    return blocks_;
  }

  // Runs `work` on the window's thread once `delay_ms` have passed.
  void later(std::uint32_t delay_ms, std::function<void()> work) {
    std::lock_guard<std::mutex> hold(lock_);
    queued_.push_back({platform::tick_ms(), delay_ms, std::move(work)});
  }

 private:
  struct Queued {
    std::uint32_t from;
    std::uint32_t delay;
    std::function<void()> work;
  };

  void run_queued() {
    std::vector<std::function<void()>> due;
    {
      std::lock_guard<std::mutex> hold(lock_);
      for (auto it = queued_.begin(); it != queued_.end();) {
        if (platform::tick_ms() - it->from >= it->delay) {
          due.push_back(std::move(it->work));
          it = queued_.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& work : due) work();
  }

  Answer answer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  platform::Event ready_{true};
  std::atomic<platform::WindowHandle> window_{platform::no_window};
  std::mutex lock_;
  std::vector<link::RequestBlock> blocks_;
  std::vector<Queued> queued_;
};

}  // namespace qor::test
