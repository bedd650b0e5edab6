#pragma once
// The client end of the pipe protocol: one link server instance on one
// machine, reached through its answer pipe (requests and verdicts) and the
// data pipes of the hosts (delivery). The window transport derives from it
// (cqornet_win_pipe.h) and offers the same operations.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qor::platform {
class PipeClient;
}

namespace qor::link {

// Longest wait of a request that wants a verdict: every positive wait is
// raised to this many milliseconds.
constexpr int min_verdict_wait_ms = 3640;
// Wait of Receive when the caller gives a negative one.
constexpr int default_receive_wait_ms = 2000;
// CheckTerminal waits this long on both transports.
constexpr int check_terminal_wait_ms = 12000;

// The result of CheckTerminal when the server does not acknowledge.
constexpr int not_in_database = -8;

class CQORNetPipe {
 public:
  CQORNetPipe();
  // A machine of the network; an empty text keeps "." (this machine).
  explicit CQORNetPipe(const std::string& machine);
  // Closes every pipe, then waits a second (so a replaced connection always
  // costs one).
  virtual ~CQORNetPipe();
  CQORNetPipe(const CQORNetPipe&) = delete;
  CQORNetPipe& operator=(const CQORNetPipe&) = delete;

  virtual const char* class_name() const { return "CQORNetPipe"; }

  // Requests: 1 accepted, 0 not.
  virtual int OpenPipe(const std::string& qualified_name);
  virtual int ClosePipe(const std::string& qualified_name);
  virtual int CreatePipe(const std::string& qualified_name);
  virtual int DestroyPipe(const std::string& qualified_name);
  // 1 when the server answers.
  virtual int CheckRivo63(const std::string& name);
  // 1 when the link server knows the terminal, not_in_database otherwise.
  virtual int CheckTerminal(int terminal);
  // Sends a request text on the answer pipe: with a positive wait it wants a
  // verdict (and waits at least min_verdict_wait_ms for it), with 0 only the
  // server's receipt. 1 for a positive answer, else 0.
  virtual int Send(const std::string& text, int wait_ms);
  // Polls the data pipe `qualified_name` for its next message and takes it:
  // the text, or "" when none came within the wait (negative: 2000 ms; 0: no
  // limit).
  virtual std::string Receive(const std::string& qualified_name, int wait_ms);

  // 1 when the last operation reached the server, 0 when it did not.
  int connected() const { return connected_.load(); }

  const std::string& machine() const { return machine_; }
  const std::string& instance() const { return instance_; }
  void set_machine(const std::string& machine) { machine_ = machine; }
  void set_instance(const std::string& instance) { instance_ = instance; }

 protected:
  std::atomic<int> connected_{0};

 private:
  struct DataPipe;

  void close_answer_pipe();
  std::shared_ptr<DataPipe> find_data_pipe(const std::string& name);
  std::shared_ptr<DataPipe> open_data_pipe(const std::string& name);
  bool claim(DataPipe& pipe, std::uint32_t start, std::uint32_t wait_ms);
  void release(DataPipe& pipe);
  void close_data_pipe(const std::shared_ptr<DataPipe>& pipe);
  std::optional<std::string> poll_and_take(const std::shared_ptr<DataPipe>& pipe, std::uint32_t start, std::uint32_t wait_ms,
                            bool no_limit);

  std::string machine_ = ".";
  std::string instance_;

  // One request at a time on the answer pipe: a reply belongs to the request
  // written just before it.
  std::mutex answer_lock_;
  std::unique_ptr<platform::PipeClient> answer_pipe_;

  // The open data pipes, each with its count of readers in progress.
  std::mutex lock_;
  std::vector<std::shared_ptr<DataPipe>> data_pipes_;
};

}  // namespace qor::link
