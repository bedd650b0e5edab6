#pragma once
// The stand-in link server as a real process for client tests: started in a
// fresh folder with an instance configuration, up once PipeHost's window
// shows, asked to close at the end. Terminal data reaches the hosts' pipes
// through the data block that any local program may send to that window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/blocks.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_support.h"

namespace qor::test {

class StandIn {
 public:
  // `dispatch`: values of Dispatch_000, Dispatch_001, ...; `launcher`: a
  // command the program is started through (e.g. "ip netns exec NAME ").
  StandIn(const std::string& instance, const std::string& arguments, const std::vector<std::string>& dispatch = {},
          const std::string& launcher = "")
      : instance_(instance) {
    std::string ini = (folder_.path() / (instance + ".ini")).string();
    for (std::size_t i = 0; i < dispatch.size(); ++i) {
      char key[32];
      std::snprintf(key, sizeof key, "Dispatch_%03u", static_cast<unsigned>(i));
      platform::write_profile_string(ini, "DISPATCHER", key, dispatch[i]);
    }
    std::string program = bin_dir() + (on_win32 ? "\\qorlink.exe" : "/qorlink");
    process_ = platform::start_process(
        launcher + platform::quote_argument(program) + " --instance " + instance + " " + arguments,
        folder_.path().string());
    std::uint32_t start = platform::tick_ms();
    while (process_.started() && (window_ = platform::find_window(instance)) == platform::no_window &&
           platform::tick_ms() - start < 10500)
      platform::sleep_ms(10);
  }

  ~StandIn() {
    if (!process_.started()) return;
    platform::ask_to_quit(process_.main_thread());
    if (!process_.wait(5000)) process_.kill();
  }

  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  // True once PipeHost runs the instance.
  bool up() const { return window_ != platform::no_window; }
  const std::string& instance() const { return instance_; }
  platform::Process& process() { return process_; }
  const TempFolder& folder() const { return folder_; }

  // Terminal data for the hosts' pipes, as a local program hands it over.
  bool terminal_data(std::int32_t terminal, const std::string& type, const std::string& data) {
    link::DataBytes bytes;
    if (!link::encode_data_block({terminal, type, data}, bytes)) return false;
    auto result = platform::send_data(window_, platform::msg_copydata, 0, 0, bytes.data(),
                                      static_cast<std::uint32_t>(bytes.size()));
    return result && *result != 0;
  }

 private:
  TempFolder folder_;
  std::string instance_;
  platform::Process process_;
  platform::WindowHandle window_ = platform::no_window;
};

}  // namespace qor::test
