#include "client/client_state.h"

#include <cstdlib>
#include <cstring>

#include "link/connection_texts.h"
#include "link/cqornet_win_pipe.h"
#include "link/cqornet_win_thread.h"
#include "link/names.h"
#include "platform/version.h"

namespace qor::client {

namespace {

// Windows 95-family systems, and NT-family builds 2048 and later.
constexpr std::uint32_t window_transport_version = 0x08000000u;

bool use_window_transport() {
  if (const char* forced = std::getenv(transport_variable)) {
    if (std::strcmp(forced, "pipe") == 0) return false;
    if (std::strcmp(forced, "window") == 0) return true;
  }
  return platform::os_version() >= window_transport_version;
}

}  // namespace

Connection make_connection(const std::string& machine) {
  try {
    if (!link::equals_ignoring_case(machine, ".")) return std::make_shared<link::CQORNetPipe>(machine);
    if (use_window_transport()) return std::make_shared<link::CQORNetWinPipe>();
    return std::make_shared<link::CQORNetPipe>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::string ClientState::select(const std::string& machine, const std::string& instance, const std::string& pipe,
                                Connection* connection) {
  Connection replaced;  // destroyed on return, after the lock: that takes a second
  std::lock_guard<std::mutex> hold(lock_);
  if (connection_ && (connection_->machine() != machine || connection_->instance() != instance))
    replaced = std::move(connection_);
  link::select_connection_texts(link::answer_pipe_name(instance), link::server_window_title(instance));
  if (!connection_) {
    connection_ = make_connection(machine);
    if (connection_) {
      connection_->set_machine(machine);
      connection_->set_instance(instance);
    }
  }
  if (connection) *connection = connection_;
  return link::qualified_pipe_name(instance, pipe);
}

Connection ClientState::connection() {
  std::lock_guard<std::mutex> hold(lock_);
  return connection_;
}

void ClientState::create_initial() {
  Connection fresh = make_connection(".");
  if (fresh) fresh->set_machine(".");
  std::lock_guard<std::mutex> hold(lock_);
  connection_ = std::move(fresh);
}

void ClientState::drop_connection() {
  Connection dropped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    dropped = std::move(connection_);
    connection_.reset();
  }
}

void ClientState::add_opened(const OpenedPipe& pipe) {
  std::lock_guard<std::mutex> hold(lock_);
  opened_.push_back(pipe);
}

std::size_t ClientState::opened_count() {
  std::lock_guard<std::mutex> hold(lock_);
  return opened_.size();
}

void ClientState::send_close_requests() {
  for (;;) {
    OpenedPipe first;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (opened_.empty()) break;
      first = opened_.front();
    }
    Connection connection;
    std::string qualified = select(first.machine, first.instance, first.pipe, &connection);
    if (connection) connection->ClosePipe(qualified);
    std::lock_guard<std::mutex> hold(lock_);
    if (!opened_.empty()) opened_.erase(opened_.begin());
  }
}

void ClientState::close_all_pipes() {
  send_close_requests();
  drop_connection();
}

void ClientState::close_all_pipes_at_exit() {
  link::join_reply_threads = false;
  send_close_requests();
  std::lock_guard<std::mutex> hold(lock_);
  new Connection(std::move(connection_));  // left to the system with the process
}

ClientState& client_state() {
  static ClientState* state = new ClientState;  // lives until the library is unloaded
  return *state;
}

}  // namespace qor::client
