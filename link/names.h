#pragma once
// How an instance name decides the names of its pipes and its window.
#include <string>

namespace qor::link {

// "QORNet" and "Rivo63" (any case) name the legacy instance.
bool is_legacy_instance(const std::string& instance);

// The pipe that carries requests: "QORNet" for the legacy instance, else the
// instance name.
std::string answer_pipe_name(const std::string& instance);

// The title of the server's message window: "Rivo63" for the legacy
// instance, else the instance name.
std::string server_window_title(const std::string& instance);

// The name of a host's data pipe P: P itself for the legacy instance, else
// "<instance>_<P>", for example QORLNK01_ORDERS.
std::string qualified_pipe_name(const std::string& instance, const std::string& pipe);

// The monitor pipe, the same for every instance.
inline const char* monitor_pipe_name() { return "QORNetMonitor"; }

// "\\<machine>\PIPE\<name>", what a client opens ("." is this machine).
std::string pipe_path(const std::string& machine, const std::string& name);

// "\\.\PIPE\<name>", what a server creates.
std::string server_pipe_path(const std::string& name);

// Case-insensitive comparison of 8-bit texts, as the protocol compares
// command words and legacy names.
bool equals_ignoring_case(const std::string& a, const std::string& b);

}  // namespace qor::link
