#include "link/connection_texts.h"

#include <mutex>

namespace qor::link {
namespace {

// Threads of a host read the texts while another selects: a lock keeps each
// read whole.
struct Texts {
  std::mutex lock;
  std::string answer_pipe = "QORNet";
  std::string window_title = "Rivo63";
};

Texts& texts() {
  static Texts* instance = new Texts;  // never destroyed: used up to library unload
  return *instance;
}

}  // namespace

std::string selected_answer_pipe() {
  std::lock_guard<std::mutex> hold(texts().lock);
  return texts().answer_pipe;
}

std::string selected_window_title() {
  std::lock_guard<std::mutex> hold(texts().lock);
  return texts().window_title;
}

void select_connection_texts(const std::string& answer_pipe, const std::string& window_title) {
  std::lock_guard<std::mutex> hold(texts().lock);
  texts().answer_pipe = answer_pipe.substr(0, max_answer_pipe_length);
  texts().window_title = window_title.substr(0, max_window_title_length);
}

}  // namespace qor::link
