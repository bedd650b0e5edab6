// The stand-in link server. The real link server is outside this system; this
// program does what the plug-ins require of one: it loads PipeHost by name,
// calls its exports on one thread that also pumps window messages, and gives
// exactly one verdict for every request it is handed.
#include <cstdio>
#include <string>
#include <vector>

#include "linkserver/options.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/thread_queue.h"
#include "platform/window.h"
#include "qor/pipehost.h"

using namespace qor;
using linkserver::Policy;

namespace {

struct PipeHostExports {
  decltype(&Pipe_Init) init = nullptr;
  decltype(&Pipe_Tini) tini = nullptr;
  decltype(&Pipe_Idle) idle = nullptr;
  decltype(&Pipe_WaitData) wait_data = nullptr;
  decltype(&Pipe_Ack) ack = nullptr;
  decltype(&Pipe_Nack) nack = nullptr;
  decltype(&Pipe_Reject) reject = nullptr;
  decltype(&Pipe_Busy) busy = nullptr;
  decltype(&Pipe_Timeout) timeout = nullptr;
};

template <typename Fn>
bool bind(platform::ModuleHandle module, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(platform::find_symbol(module, name));
  if (!fn) std::fprintf(stderr, "qorlink: PipeHost.dll has no export %s\n", name);
  return fn != nullptr;
}

bool bind_all(platform::ModuleHandle module, PipeHostExports& e) {
  return bind(module, e.init, "Pipe_Init") && bind(module, e.tini, "Pipe_Tini") && bind(module, e.idle, "Pipe_Idle") &&
         bind(module, e.wait_data, "Pipe_WaitData") && bind(module, e.ack, "Pipe_Ack") &&
         bind(module, e.nack, "Pipe_Nack") && bind(module, e.reject, "Pipe_Reject") &&
         bind(module, e.busy, "Pipe_Busy") && bind(module, e.timeout, "Pipe_Timeout");
}

const char* policy_name(Policy policy) {
  switch (policy) {
    case Policy::ack: return "ACK";
    case Policy::nak: return "NAK";
    case Policy::reject: return "REJECT";
    case Policy::busy: return "BUSY";
    case Policy::timeout: return "TIMEOUT";
    case Policy::none: return "none";
  }
  return "none";
}

// Printable form of a request text for the trace.
std::string shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

class LinkServer {
 public:
  LinkServer(const linkserver::Options& options, const PipeHostExports& pipe, int host_id)
      : options_(options), pipe_(pipe), host_id_(host_id) {}

  // Serves until the main window is closed or a host asks "QX".
  void run() {
    while (!stopping_) {
      pump();
      void* handle = nullptr;
      std::int32_t terminal = 0;
      std::int32_t n = pipe_.wait_data(&handle, &terminal, 0, buffer_, sizeof buffer_ - 1);
      if (n > 0) answer(handle, terminal, std::string(buffer_, std::min<std::size_t>(n, sizeof buffer_ - 1)));
      pipe_.idle(1);
    }
  }

  void stop() { stopping_ = true; }

 private:
  void pump() {
    platform::Message message;
    while (platform::peek_message(message, true)) {
      if (message.id == platform::msg_quit) {
        stopping_ = true;
        return;
      }
      platform::dispatch_message(message);
    }
  }

  void answer(void* handle, std::int32_t terminal, const std::string& text) {
    Policy verdict = options_.policy;
    if (terminal == host_id_ && text.compare(0, 3, "CT|") == 0) {
      int asked = std::atoi(text.c_str() + 3);
      verdict = options_.terminals.count(asked) ? Policy::ack : Policy::nak;
    } else if (terminal == host_id_ && (text == "QX" || text.compare(0, 3, "QX|") == 0)) {
      verdict = Policy::ack;
      stopping_ = true;
    }
    if (options_.trace) {
      std::printf("request terminal %d \"%s\" -> %s\n", static_cast<int>(terminal), shown(text).c_str(),
                  policy_name(verdict));
      std::fflush(stdout);
    }
    switch (verdict) {
      case Policy::ack: pipe_.ack(&handle); break;
      case Policy::nak: pipe_.nack(&handle); break;
      case Policy::reject: pipe_.reject(&handle); break;
      case Policy::busy: pipe_.busy(&handle); break;
      case Policy::timeout: pipe_.timeout(&handle); break;
      case Policy::none: unanswered_.push_back(handle); break;  // kept: exactly one verdict, at the end
    }
  }

 public:
  // Requests held back by the policy "none" get their one verdict (NAK)
  // before the plug-in stops.
  void settle_unanswered() {
    for (void* handle : unanswered_) pipe_.nack(&handle);
    unanswered_.clear();
  }

 private:
  const linkserver::Options& options_;
  const PipeHostExports& pipe_;
  int host_id_;
  bool stopping_ = false;
  char buffer_[10240];
  std::vector<void*> unanswered_;
};

LinkServer* running_server = nullptr;
// PipeHost's window in this process. The legacy main window "Rivo63" has the
// title of PipeHost's window and, being the newer one, is what hosts find:
// the blocks they send it go on to PipeHost.
platform::WindowHandle plugin_window = platform::no_window;

platform::HandlerResult main_window_handler(platform::WindowHandle, const platform::WindowMessage& message) {
  if (message.id == platform::msg_close && running_server) running_server->stop();
  if (message.id == platform::msg_copydata && plugin_window)
    return platform::send_data(plugin_window, platform::msg_copydata, message.wparam, message.lparam, message.data,
                               message.size)
        .value_or(0);
  return std::nullopt;  // default processing: a close destroys the window
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  linkserver::Options options = linkserver::parse_options(argv[0], args);
  if (options.help) {
    std::fputs(linkserver::usage_text(), stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "qorlink: %s (--help for the switches)\n", options.error.c_str());
    return 2;
  }

  platform::ModuleHandle module = platform::load_module("PipeHost.dll");
  PipeHostExports pipe;
  if (!module) {
    std::fprintf(stderr, "qorlink: PipeHost.dll could not be loaded\n");
    return 1;
  }
  if (!bind_all(module, pipe)) return 1;

  int host_id = platform::read_profile_int(".\\" + options.instance + ".ini", "Global Parameters", "Host ID", 99);
  LinkServer server(options, pipe, host_id);
  running_server = &server;

  // PipeHost first: it takes the instance only while no window carries the
  // instance name, and the legacy main window "Rivo63" would.
  if (pipe.init(options.instance.c_str()) != 1) {
    std::fprintf(stderr, "qorlink: PipeHost could not start the instance %s\n", options.instance.c_str());
    return 1;
  }
  platform::WindowHandle instance_window = platform::find_window(options.instance);
  if (instance_window && platform::window_process_id(instance_window) == platform::current_process_id())
    plugin_window = instance_window;
  std::string title = linkserver::main_window_title(options);
  platform::WindowHandle window = platform::create_window(title, main_window_handler);
  if (!window) {
    std::fprintf(stderr, "qorlink: the main window \"%s\" could not be created\n", title.c_str());
    pipe.tini();
    return 1;
  }
  if (options.trace) {
    std::printf("link server \"%s\" running instance %s, host id %d\n", title.c_str(), options.instance.c_str(),
                host_id);
    std::fflush(stdout);
  }

  server.run();
  server.settle_unanswered();
  plugin_window = platform::no_window;
  pipe.tini();
  running_server = nullptr;
  platform::destroy_window(window);
  if (options.trace) std::printf("link server stopped\n");
  return 0;
}
