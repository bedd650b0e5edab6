#include "client/server_window.h"

#include <cstdio>

#include "client/host_api.h"
#include "link/connection_texts.h"
#include "link/cqornet_win_pipe.h"
#include "link/names.h"
#include "platform/window.h"

namespace qor::client {

int instance_number(const std::string& instance) {
  if (instance.compare(0, 6, "QORLNK") != 0) return -1;
  return leading_digits(instance.substr(6));
}

std::vector<std::string> main_window_titles(const std::string& instance) {
  if (link::is_legacy_instance(instance)) return {};
  int number = instance_number(instance);
  if (number < 0) return {"QOR-Link", "QOR-Link for IT"};
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, " (%02d)", number);
  return {std::string("QOR-Link") + suffix, std::string("QOR-Link for IT") + suffix};
}

platform::WindowHandle FindServerWindow(const std::string& instance) {
  platform::WindowHandle window = platform::no_window;
  if (link::is_legacy_instance(instance)) {
    window = platform::find_window(link::selected_window_title());
  } else {
    for (const std::string& title : main_window_titles(instance)) {
      window = platform::find_window(title);
      if (window != platform::no_window) break;
    }
  }
  return window == platform::no_window ? window : link::root_window(window);
}

std::string server_program(const std::string& instance) {
  return link::is_legacy_instance(instance) ? "Rivo63.exe" : "qorlink.exe";
}

std::string server_switches(const std::string& instance, int mode) {
  if (link::is_legacy_instance(instance)) {
    if (mode == 1) return " -splash -max";
    if (mode == 2) return " -splash -min";
    return " -splash";
  }
  std::string switches = mode == 2 ? " mini" : "";
  int number = instance_number(instance);
  if (number >= 0) switches += " -" + std::to_string(number);
  return switches;
}

}  // namespace qor::client
