#pragma once
// Data files and undelivered-message files: where they lie and how lines are
// appended to them. Paths are Windows path text as the configuration holds
// it; they are mapped to the target's paths only when a file is touched.
#include <string>

namespace qor::pipehost {

// A path with neither ":" nor "\" lies under `default_path` (with "\" in
// between when it does not end with one); any other path is used as it is.
std::string resolve_data_path(const std::string& path, const std::string& default_path);

// Creates every folder of the path before its last "\", from the top down,
// ignoring folders that exist or cannot be made. "C:\A\B\f.txt" makes C:\A
// and C:\A\B; "x.txt" makes nothing.
void create_directory_chain(const std::string& path);

bool file_exists(const std::string& path);

// Appends `text` to the file as a text stream: every "\n" is stored as CR LF.
// Creates the file when missing (not its folders). False when it cannot be
// opened or written.
bool append_text(const std::string& path, const std::string& text);

// One data file line: "%03d|" of the terminal when `terminal_header`, "%s|"
// of the packet type when `type_header`, then the data and "\n".
std::string data_file_line(bool terminal_header, bool type_header, int terminal, const std::string& type,
                           const std::string& data);

}  // namespace qor::pipehost
