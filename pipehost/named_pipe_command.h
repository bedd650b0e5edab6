#pragma once
// One pipe endpoint: the pipe name "\\.\PIPE\<name>", the threads serving its
// instances, and its queues.
//
// Three kinds, fixed by the name at creation: the monitor endpoint
// ("QORNetMonitor"; clients poll monitor messages), the answer endpoint (the
// current answer pipe name; clients send requests) and data endpoints (any
// other name; a host polls the terminal data addressed to it). Only the first
// endpoint of the monitor or answer kind serves its pipe and becomes the
// process-wide reference; a later one of the same name has no thread.
//
// Lifetime: the endpoint owns its threads. Stopping them (stop_threads, and
// the destructor) cancels every blocked pipe call and joins the threads, so
// once it returns no thread of the endpoint runs or touches it again (see
// EndpointGlobals::joinStoppedThreads for the one exception).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipehost/tcpip_message.h"

namespace qor::pipehost {

class CNamedPipeCommand;
class CNamedPipeThread;

// The name of the monitor pipe and of its endpoint.
constexpr const char* monitor_endpoint_name = "QORNetMonitor";

// The plug-in's process-wide endpoint references and the names that decide
// an endpoint's kind. Written only by the thread that creates and destroys
// endpoints (the link server's thread); pipe threads never read them.
struct EndpointGlobals {
  std::string answerPipeName = "QORNet";  // at most 127 characters
  // Always monitor_endpoint_name in the plug-in; tests give it a name of
  // their own, so that test runs on one machine do not share the pipe.
  std::string monitorPipeName = monitor_endpoint_name;
  // Stopping an endpoint's threads waits until each has let go of the
  // endpoint and then, while this is set, until it has ended. Clear it only
  // for a teardown during which no thread can end, such as one run while
  // the Windows loader lock is held (DllMain when the library is freed):
  // the threads then end by themselves a moment later, touching nothing of
  // the endpoint.
  bool joinStoppedThreads = true;
  CNamedPipeCommand* answerEndpoint = nullptr;
  CNamedPipeCommand* monitorEndpoint = nullptr;
};
EndpointGlobals& endpoint_globals();

// Sets the answer pipe name, cut to 127 characters.
void set_answer_pipe_name(const std::string& name);

// The monitor settings: stored and reset by the monitor commands.
struct MonitorSettings {
  bool allTerminals = false;
  std::vector<int> terminals;
  int size = 0;
  int buffer = -1;
};

class CNamedPipeCommand {
 public:
  enum class Kind { answer, monitor, data };

  // Creates the endpoint and starts its first listening thread: the
  // monitor and answer kinds only when no endpoint of that kind exists
  // (this one then becomes the reference).
  explicit CNamedPipeCommand(std::string name);
  // Clears the reference that points here, stops every thread, writes the
  // undelivered-message file and releases the queues.
  ~CNamedPipeCommand();
  CNamedPipeCommand(const CNamedPipeCommand&) = delete;
  CNamedPipeCommand& operator=(const CNamedPipeCommand&) = delete;

  std::string name() const;
  // A new name for lookups and the undelivered-message file; the threads
  // keep serving the pipe they were started on (stop them first when the
  // name is given up).
  void set_name(std::string name);
  Kind kind() const { return kind_; }

  // Queue operations; each takes the endpoint lock for its whole run.

  // "<n>|<rest>" ("|" at position 1 or more) becomes a message with number
  // n and text rest; any other text is queued whole with number 0. False
  // (nothing queued) for an empty text, for one that would go out as an
  // empty message ("0|"), or when memory runs out.
  bool QueueForDelivery(const std::string& text);
  // Moves the oldest pending message to the end of inProgress and returns
  // it (still owned by the endpoint), or null.
  CTcpipMessage* TakeNextPending();
  // Releases a message of inProgress; nothing for any other pointer.
  void CompleteMessage(CTcpipMessage* message);
  // Puts a message of inProgress back at the front of pending; nothing for
  // any other pointer.
  void RequeueMessage(CTcpipMessage* message);
  // Appends a request; false (the request released) when memory runs out.
  bool PostRequest(std::unique_ptr<CTcpipMessage> message);
  // The oldest request, now owned by the caller, or null.
  std::unique_ptr<CTcpipMessage> TakeRequest();
  // Puts a request back at the front of the queue.
  void RequeueRequest(std::unique_ptr<CTcpipMessage> message);

  // Applies a "|"-separated monitor command list (empty fields skipped);
  // true when every command was accepted. Processing stops at the first
  // refused one.
  bool ApplyMonitorCommands(const std::string& list);
  int monitorState() const;
  void set_monitorState(int state);
  MonitorSettings monitor_settings() const;

  // Appends inProgress, then pending, to "<Error Path>\<name>.PIP" (the
  // Error Path of ".\Rivo63.ini", read now). Nothing when both are empty
  // or the file cannot be opened; no folder is created.
  void DumpUndelivered();

  // Clears every thread's running flag, releases its blocked pipe call and
  // waits until the thread has ended; no new thread starts afterwards.
  // Called by the thread that owns the endpoint, never by a pipe thread.
  void stop_threads();

  std::size_t pending_count() const;
  std::size_t in_progress_count() const;
  std::size_t request_count() const;
  // Pipe threads started and not yet ended.
  std::size_t thread_count() const;

  // The lock guarding every list of the endpoint.
  std::mutex& lock() { return lock_; }

 private:
  friend class CNamedPipeThread;
  friend class CAnswerThread;
  friend class CServiceThread;

  using ThreadList = std::list<std::unique_ptr<CNamedPipeThread>>;

  // Under the lock: starts `thread` unless the endpoint is stopping.
  void start_thread_locked(std::unique_ptr<CNamedPipeThread> thread);
  // Under the lock: moves the records of ended threads to `ended`, for the
  // caller to join once it has let go of the lock.
  void take_ended_locked(ThreadList& ended);
  // Under the lock: whether a live thread is still waiting for a client (or
  // about to).
  bool has_listener_locked() const;
  static void join_all(ThreadList& threads);
  void release_pending_locked();

  std::string name_;
  Kind kind_;
  mutable std::mutex lock_;
  std::condition_variable threadEnded_;  // a thread has let go of the endpoint
  ThreadList threads_;                   // every thread started and not yet joined
  bool stopping_ = false;
  std::uint64_t instancesClosed_ = 0;  // pipe instances its threads have closed
  std::deque<std::unique_ptr<CTcpipMessage>> pending_;
  std::list<std::unique_ptr<CTcpipMessage>> inProgress_;
  std::deque<std::unique_ptr<CTcpipMessage>> requests_;
  int monitorState_ = 0;
  MonitorSettings monitor_;
};

}  // namespace qor::pipehost
