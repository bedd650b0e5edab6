#pragma once
// QorLink's process-wide state: the one connection object to the machine and
// instance used last, and the data pipes the process has opened.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/cqornet_pipe.h"

namespace qor::client {

using Connection = std::shared_ptr<link::CQORNetPipe>;

// One successful QORLink_OpenPipe.
struct OpenedPipe {
  std::string pipe;
  std::string machine;
  std::string instance;
};

// The environment variable that picks the transport on this machine:
// "pipe" forces the pipe transport, "window" the window transport; unset,
// the system's version decides (the window transport on every current
// system). Other machines are always reached by pipe.
constexpr const char* transport_variable = "QORLINK_TRANSPORT";

// A new connection object for `machine` by the transport rule; null when it
// cannot be made.
Connection make_connection(const std::string& machine);

class ClientState {
 public:
  // Makes sure the connection object is one for (machine, instance),
  // replacing one for any other pair (which costs a second), and sets the
  // answer pipe name and server window title of the instance. Returns the
  // qualified name of the host pipe `pipe`; `*connection` receives the
  // object, null when none could be made. Threads that still use a replaced
  // object keep it alive until they are done with it.
  std::string select(const std::string& machine, const std::string& instance, const std::string& pipe,
                     Connection* connection);
  // The object of the last selection, or null.
  Connection connection();
  // Creates the object for this machine and no instance, as at load.
  void create_initial();
  // Lets go of the object (it is destroyed once no thread uses it).
  void drop_connection();

  void add_opened(const OpenedPipe& pipe);
  std::size_t opened_count();
  // Sends ClosePipe for every opened pipe, empties the list and drops the
  // connection object.
  void close_all_pipes();
  // The same at process exit, when the other threads are gone: the close
  // requests go out, but no object is destroyed (that would wait for threads
  // that no longer run).
  void close_all_pipes_at_exit();

  // Set by a successful QORLink_OpenPipe, cleared by the first read that
  // finds nothing after it.
  std::atomic<bool> reopened{false};

 private:
  void send_close_requests();

  std::mutex lock_;
  Connection connection_;
  std::vector<OpenedPipe> opened_;
};

// The state of this loaded library.
ClientState& client_state();

}  // namespace qor::client
