#pragma once
// One "Dispatch_NNN" value of the DISPATCHER section, read into its fields.
#include <optional>
#include <string>

namespace qor::pipehost {

struct DispatchEntrySpec {
  bool is_pipe = false;
  std::string pipe_name;  // pipe entries: the data endpoint name, qualified with the instance
  std::string file_path;  // file entries: the data file path as written
  std::string packets;    // accepted packet types joined by "-"
  std::string terminals;  // accepted terminal codes joined by "-"; "000" is all
  bool persistent = false;  // pipe entries: deliver without OpenPipe
  bool create_now = false;  // file entries: create the file at load time
  int instances = 0;        // pipe entries: how many copies of program to start
  std::string program;
  std::string arguments;
};

// Reads a value such as "pipe|ORDERS|ORD-INV|000|N|2 C:\apps\orders.exe|-auto"
// or "file|orders.txt|ORD|001-002|Y". Fields are separated by "|" and empty
// fields are skipped. The sixth field holds an optional instance count and
// the program, separated by blanks; the seventh the arguments. A pipe name
// without "_" gets the instance name and "_" in front. std::nullopt for a
// value with fewer than four fields.
std::optional<DispatchEntrySpec> parse_dispatch_entry(const std::string& value, const std::string& instance);

// The flags of an entry: on when the first character is T, t, Y or y.
bool entry_flag(const std::string& field);

}  // namespace qor::pipehost
