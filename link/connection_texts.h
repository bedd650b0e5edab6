#pragma once
// The two process-wide texts that the connection classes read on every
// request: the name of the answer pipe and the title of the server window.
// The host library sets both whenever it selects a machine and instance.
#include <string>

namespace qor::link {

constexpr std::size_t max_answer_pipe_length = 127;
constexpr std::size_t max_window_title_length = 63;

// "QORNet" until the first selection.
std::string selected_answer_pipe();
// "Rivo63" until the first selection.
std::string selected_window_title();

// Sets both texts, each cut to its longest length.
void select_connection_texts(const std::string& answer_pipe, const std::string& window_title);

}  // namespace qor::link
