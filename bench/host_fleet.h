#pragma once
// What the benchmarks that run whole processes share: the stand-in link
// server started for one instance with a data pipe per host, host pipe and
// packet-type names, and the files through which the benchmark and its host
// processes (the benchmark started again) signal each other.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/window.h"

namespace qor::bench {

namespace fs = std::filesystem;

inline std::string three_digits(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "%03d", i);
  return text;
}

// Host k reads the data pipe H<kkk>, which takes the packet type T<kkk>.
inline std::string host_pipe(int host) { return "H" + three_digits(host); }
inline std::string host_type(int host) { return "T" + three_digits(host); }

inline bool touch(const fs::path& file) {
  std::ofstream out(file);
  return static_cast<bool>(out);
}

// Waits until `done` holds or `ms` have passed; whether it held.
template <typename Done>
bool within(std::uint32_t ms, Done done) {
  std::uint32_t start = platform::tick_ms();
  while (!done()) {
    if (platform::tick_ms() - start >= ms) return false;
    platform::sleep_ms(10);
  }
  return true;
}

// A program built beside this one.
inline std::string program_path(const std::string& name) {
  std::string folder = platform::folder_of(platform::executable_path());
#ifdef _WIN32
  return folder + "\\" + name + ".exe";
#else
  return folder + "/" + name;
#endif
}

struct StandInSettings {
  bool persistent_pipes = false;  // data pipes take data without an OpenPipe
  std::string host_id;            // the link server's Host ID; empty: its default
  int attempts = 1;               // starts tried until one comes up
};

// The stand-in link server for one instance with the data pipes H000.. of
// `hosts` hosts, in a folder of its own; asked to quit at the end.
// `arguments` gives the rest of its command line, anew for every attempt.
class StandInServer {
 public:
  StandInServer(const fs::path& folder, const std::string& instance, int hosts, const StandInSettings& settings,
                const std::function<std::string()>& arguments) {
    fs::create_directories(folder);
    std::string ini = (folder / (instance + ".ini")).string();
    if (!settings.host_id.empty())
      platform::write_profile_string(ini, "Global Parameters", "Host ID", settings.host_id);
    for (int k = 0; k < hosts; ++k)
      platform::write_profile_string(ini, "DISPATCHER", "Dispatch_" + three_digits(k),
                                     "pipe|" + host_pipe(k) + "|" + host_type(k) + "|000" +
                                         (settings.persistent_pipes ? "|Y" : ""));
    for (int attempt = 0; attempt < settings.attempts && window_ == platform::no_window; ++attempt) {
      process_ = platform::start_process(
          platform::quote_argument(program_path("qorlink")) + " --instance " + instance + " " + arguments(),
          folder.string());
      within(15000, [&] {
        return !process_.started() || !process_.running() ||
               (window_ = platform::find_window(instance)) != platform::no_window;
      });
    }
  }
  ~StandInServer() {
    if (!process_.started()) return;
    platform::ask_to_quit(process_.main_thread());
    if (!process_.wait(15000)) process_.kill();
  }
  StandInServer(const StandInServer&) = delete;
  StandInServer& operator=(const StandInServer&) = delete;

  bool up() const { return window_ != platform::no_window && process_.running(); }
  // PipeHost's window: where local programs hand terminal data over.
  platform::WindowHandle window() const { return window_; }

 private:
  platform::Process process_;
  platform::WindowHandle window_ = platform::no_window;
};

}  // namespace qor::bench
