#include "pipehost/cdispatcher.h"

#include <cstdio>
#include <memory>
#include <new>

#include "pipehost/data_files.h"
#include "pipehost/dispatch_entry.h"
#include "pipehost/named_pipe_command.h"
#include "pipehost/plugin_state.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/window.h"

namespace qor::pipehost {

namespace {

constexpr std::uint32_t entry_value_size = 2176;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Adds `part` to a "-"-joined list unless the list already holds it.
void merge_list(std::string& list, const std::string& part) {
  if (contains(list, part)) return;
  if (!list.empty()) list += "-";
  list += part;
}

// The name a host uses for an entry's pipe, cut at its first "|".
std::string pipe_name_argument(const std::string& name) {
  std::size_t bar = name.find('|');
  return bar != std::string::npos && bar >= 1 ? name.substr(0, bar) : name;
}

CDispatcher* find_entry(PluginState& state, const std::string& pipeName) {
  for (auto& entry : state.dispatchers)
    if (entry->pipeName == pipeName) return entry.get();
  return nullptr;
}

// Starts the programs of a pipe entry; their main threads are recorded in
// `owner`, the entry that keeps the endpoint.
void start_programs(const DispatchEntrySpec& spec, bool database_driver_loaded, CDispatcher& owner) {
  if (spec.program.empty()) return;
  if (contains(spec.program, "Rivo63db") && !database_driver_loaded) return;
  for (int i = 0; i < spec.instances; ++i) {
    if (spec.persistent) platform::sleep_ms(20);
    std::string executable = platform::find_executable(spec.program, ".");
    if (executable.empty()) continue;
    // A path with blanks is quoted: unquoted, Windows would try to run each
    // prefix of it that names a file ("C:\Program" for "C:\Program Files\...").
    std::string command_line = platform::quote_argument(executable);
    if (!spec.arguments.empty()) command_line += " " + spec.arguments;
    platform::Process process = platform::start_process(command_line, ".");
    if (process) owner.startedThreads.push_back(process.main_thread());
  }
}

void destroy_entries_and_data_endpoints(PluginState& state) {
  // In registry order: each entry stops its programs as it goes.
  for (auto& entry : state.dispatchers) entry.reset();
  state.dispatchers.clear();
  EndpointGlobals& globals = endpoint_globals();
  std::vector<std::unique_ptr<CNamedPipeCommand>> kept;
  for (auto& endpoint : state.endpoints) {
    if (endpoint.get() == globals.answerEndpoint || endpoint.get() == globals.monitorEndpoint)
      kept.push_back(std::move(endpoint));
    else
      endpoint.reset();
  }
  state.endpoints = std::move(kept);
}

void place_pipe_entry(PluginState& state, const DispatchEntrySpec& spec, bool database_driver_loaded) {
  if (CDispatcher* owner = find_entry(state, spec.pipe_name)) {
    merge_list(owner->packets, spec.packets);
    merge_list(owner->terminals, spec.terminals);
    if (spec.persistent) owner->persistent = true;
    start_programs(spec, database_driver_loaded, *owner);
    return;
  }
  std::unique_ptr<CDispatcher> entry;
  try {
    entry = std::make_unique<CDispatcher>();
    state.endpoints.push_back(std::make_unique<CNamedPipeCommand>(spec.pipe_name));
  } catch (const std::bad_alloc&) {
    return;  // no endpoint: the entry is discarded
  }
  entry->pipeName = spec.pipe_name;
  entry->packets = spec.packets;
  entry->terminals = spec.terminals;
  entry->persistent = spec.persistent;
  entry->program = spec.program;
  entry->instances = spec.instances;
  entry->arguments = spec.arguments;
  entry->endpoint = state.endpoints.back().get();
  // Gives the endpoint's first thread time to create its pipe instance.
  platform::sleep_ms(10);
  start_programs(spec, database_driver_loaded, *entry);
  state.dispatchers.push_back(std::move(entry));
}

void place_file_entry(PluginState& state, const DispatchEntrySpec& spec) {
  if (spec.create_now) {
    std::string path = resolve_data_path(spec.file_path, default_data_path(state));
    if (!file_exists(path)) {
      create_directory_chain(path);
      append_text(path, "");
    }
  }
  auto entry = std::make_unique<CDispatcher>();
  entry->filePath = spec.file_path;
  entry->packets = spec.packets;
  entry->terminals = spec.terminals;
  state.dispatchers.push_back(std::move(entry));
}

}  // namespace

CDispatcher::~CDispatcher() {
  endpoint = nullptr;
  for (platform::ThreadId thread : startedThreads) {
    platform::ask_to_quit(thread);
    platform::sleep_ms(250);
  }
  startedThreads.clear();
  // Posted rather than sent: a window whose owner no longer pumps must not
  // hold up the plug-in's shutdown.
  if (platform::WindowHandle window = platform::find_window("Rivo63 - DR"))
    platform::post_message(window, platform::msg_quit, 0, 0);
}

bool CDispatcher::accepts(const std::string& packetType, int terminal) const {
  char code[16];
  std::snprintf(code, sizeof code, "%03d", terminal);
  return contains(packets, packetType) && (contains(terminals, code) || contains(terminals, "000"));
}

void CDispatcher::clear_texts() {
  terminals.clear();
  packets.clear();
  filePath.clear();
  pipeName.clear();
  program.clear();
}

void LoadDispatchers(PluginState& state, bool reset) {
  // Programs named "Rivo63db" need the database driver manager.
  platform::ModuleHandle driver_manager = platform::load_module("ODBC32.DLL");
  bool database_driver_loaded = driver_manager != nullptr;
  platform::unload_module(driver_manager);

  if (reset) destroy_entries_and_data_endpoints(state);

  for (int i = 0; i <= 255; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "Dispatch_%03d", i);
    std::string value = platform::read_profile_string(state.configPath, "DISPATCHER", key, "", entry_value_size);
    if (value.empty()) continue;
    auto spec = parse_dispatch_entry(value, state.instanceName);
    if (!spec) continue;
    if (spec->is_pipe)
      place_pipe_entry(state, *spec, database_driver_loaded);
    else
      place_file_entry(state, *spec);
  }
}

bool OpenDataPipe(PluginState& state, const std::string& name) {
  std::string pipe = pipe_name_argument(name);
  CDispatcher* entry = find_entry(state, pipe);
  if (!entry || entry->persistent) return false;
  CNamedPipeCommand* monitor = endpoint_globals().monitorEndpoint;
  if (pipe == "QORNetMonitor" && monitor) monitor->set_monitorState(1);
  std::lock_guard<std::mutex> guard(entry->lock);
  ++entry->openCount;
  return true;
}

bool CloseDataPipe(PluginState& state, const std::string& name) {
  std::string pipe = pipe_name_argument(name);
  CDispatcher* entry = find_entry(state, pipe);
  if (!entry || entry->persistent) return false;
  int now_open;
  {
    std::lock_guard<std::mutex> guard(entry->lock);
    if (entry->openCount == 0) return false;
    now_open = --entry->openCount;
  }
  CNamedPipeCommand* monitor = endpoint_globals().monitorEndpoint;
  if (pipe == "QORNetMonitor" && monitor && now_open == 0) {
    monitor->ApplyMonitorCommands("stop");
    monitor->set_monitorState(0);
  }
  return true;
}

}  // namespace qor::pipehost
