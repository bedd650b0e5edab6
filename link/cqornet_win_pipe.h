#pragma once
// The window transport: requests go to the server's message window as
// request blocks (a synchronous copy-data message), and the answers come
// back as thread messages to a reply thread of this object. This machine
// only.
#include <memory>
#include <mutex>

#include "link/cqornet_pipe.h"
#include "link/cqornet_win_thread.h"
#include "platform/message.h"

namespace qor::link {

// The root of a window's parent chain: requests go to the top-level window
// that holds the server's window.
platform::WindowHandle root_window(platform::WindowHandle window);

// Wait of Transact when the caller gives a negative one.
constexpr int default_transact_wait_ms = 30000;

class CQORNetWinPipe : public CQORNetPipe {
 public:
  CQORNetWinPipe() = default;
  // Ends the reply thread.
  ~CQORNetWinPipe() override;

  const char* class_name() const override { return "CQORNetWinPipe"; }

  int OpenPipe(const std::string& qualified_name) override;
  int ClosePipe(const std::string& qualified_name) override;
  int CreatePipe(const std::string& qualified_name) override;
  int DestroyPipe(const std::string& qualified_name) override;
  int CheckRivo63(const std::string& name) override;
  int CheckTerminal(int terminal) override;
  // A request text; with a positive wait it wants the link server's verdict.
  int Send(const std::string& text, int wait_ms) override;
  // A message of the data pipe `qualified_name`. A message that came after
  // an earlier Receive gave up is returned first, whatever pipe is named.
  std::string Receive(const std::string& qualified_name, int wait_ms) override;

  // Hands one request block to the server window and waits for the answer:
  // without `read_data` the verdict's text ("ACK", "NACK", "BUSY",
  // "REJECT", "TIMEOUT"; "" when the server cannot be reached), with it
  // the message text ("" when none came).
  std::string Transact(const std::string& name, const std::string& text, int wait_ms, bool read_data);

 private:
  int request(const std::string& name, const char* word, int wait_ms);
  CQORNetWinThread* reply_thread();

  std::mutex start_lock_;  // the reply thread starts once
  std::unique_ptr<CQORNetWinThread> reply_thread_;
};

}  // namespace qor::link
