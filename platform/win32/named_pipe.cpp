// Named pipes on Windows: the system's own, local and remote. Every handle is
// opened for overlapped I/O, so that a wait, read or write can be abandoned
// when another thread cancels the instance; the calls themselves block as
// the pipe's wait mode says.
#include "platform/named_pipe.h"

#include <windows.h>

#include "platform/common/pipe_path.h"

namespace qor::platform {

namespace {

// Overlapped I/O on one handle by its owner thread, with an event that any
// thread may set to cancel it.
class Io {
 public:
  Io() : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), cancel_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Io() {
    if (done_) CloseHandle(done_);
    if (cancel_) CloseHandle(cancel_);
  }
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;

  bool usable() const { return done_ && cancel_; }
  bool cancelled() const { return WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0; }
  void cancel() { SetEvent(cancel_); }

  // The OVERLAPPED record for the next call on the handle.
  OVERLAPPED* start() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = done_;
    return &overlapped_;
  }

  // Finishes the call that start() prepared, given what the call returned
  // (with its last error still in place). ERROR_SUCCESS, or the error; the
  // byte count goes to `count` (also with ERROR_MORE_DATA).
  DWORD finish(HANDLE handle, BOOL returned, DWORD* count) {
    *count = 0;
    if (!returned) {
      DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        if (error == ERROR_MORE_DATA) GetOverlappedResult(handle, &overlapped_, count, FALSE);
        return error;
      }
      HANDLE events[2] = {done_, cancel_};
      if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // CancelIo cancels the calling thread's own calls on the handle,
        // which is this one; then wait until the system has let go of the
        // buffer and the record.
        CancelIo(handle);
        GetOverlappedResult(handle, &overlapped_, count, TRUE);
        return ERROR_OPERATION_ABORTED;
      }
    }
    if (!GetOverlappedResult(handle, &overlapped_, count, FALSE)) return GetLastError();
    return ERROR_SUCCESS;
  }

 private:
  HANDLE done_;
  HANDLE cancel_;
  OVERLAPPED overlapped_{};
};

bool write_on(HANDLE handle, Io& io, const void* data, std::size_t size) {
  if (size == 0 || size > MAXDWORD || io.cancelled()) return false;
  DWORD count = 0;
  BOOL returned = WriteFile(handle, data, static_cast<DWORD>(size), nullptr, io.start());
  return io.finish(handle, returned, &count) == ERROR_SUCCESS && count == size;
}

DWORD clamp(std::size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

}  // namespace

// --- server ----------------------------------------------------------------

struct PipeServer::State {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  Io io;
};

PipeServer::PipeServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<PipeServer> PipeServer::create(const std::string& path, int max_instances) {
  auto parts = detail::parse_pipe_path(path);
  if (!parts || parts->machine != "." || max_instances < 1 || max_instances > pipe_max_instances) return nullptr;
  auto state = std::make_unique<State>();
  if (!state->io.usable()) return nullptr;
  // A null access list: every user of the machine and of the network may
  // connect. The system copies the descriptor into the new instance.
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
    return nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, TRUE};
  state->pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                 static_cast<DWORD>(max_instances), pipe_buffer_size, pipe_buffer_size, 0, &attributes);
  if (state->pipe == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<PipeServer>(new PipeServer(std::move(state)));
}

PipeServer::~PipeServer() { CloseHandle(state_->pipe); }

bool PipeServer::wait_for_client() {
  State& s = *state_;
  if (s.io.cancelled()) return false;
  DWORD count = 0;
  BOOL returned = ConnectNamedPipe(s.pipe, s.io.start());
  DWORD error = s.io.finish(s.pipe, returned, &count);
  // A client that connected before the call is connected; one that has
  // already closed its end is too (the next read fails).
  return error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA;
}

std::optional<std::size_t> PipeServer::read_message(char* buffer, std::size_t size) {
  State& s = *state_;
  if (s.io.cancelled()) return std::nullopt;
  DWORD count = 0;
  DWORD error = s.io.finish(s.pipe, ReadFile(s.pipe, buffer, clamp(size), nullptr, s.io.start()), &count);
  if (error == ERROR_SUCCESS) return count;
  // Too long for the buffer: drop the rest of the message, so that the next
  // read starts with the next one.
  while (error == ERROR_MORE_DATA) {
    char rest[1024];
    error = s.io.finish(s.pipe, ReadFile(s.pipe, rest, sizeof rest, nullptr, s.io.start()), &count);
  }
  return std::nullopt;
}

bool PipeServer::write_message(const void* data, std::size_t size) {
  return write_on(state_->pipe, state_->io, data, size);
}

void PipeServer::disconnect() { DisconnectNamedPipe(state_->pipe); }

void PipeServer::cancel() { state_->io.cancel(); }

// --- client ----------------------------------------------------------------

struct PipeClient::State {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  Io io;
};

PipeClient::PipeClient(std::unique_ptr<State> state) : state_(std::move(state)) {}

PipeClient::~PipeClient() { CloseHandle(state_->pipe); }

std::unique_ptr<PipeClient> PipeClient::open(const std::string& path) {
  // Only pipe paths: CreateFileA would open any file.
  if (!detail::parse_pipe_path(path)) return nullptr;
  auto state = std::make_unique<State>();
  if (!state->io.usable()) return nullptr;
  // The read mode of the client end stays as the system sets it: bytes.
  state->pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (state->pipe == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<PipeClient>(new PipeClient(std::move(state)));
}

std::optional<PipeWaiting> PipeClient::peek() {
  DWORD total = 0, in_message = 0;
  if (!PeekNamedPipe(state_->pipe, nullptr, 0, nullptr, &total, &in_message)) return std::nullopt;
  PipeWaiting waiting;
  waiting.total = total;
  waiting.in_message = in_message;
  return waiting;
}

std::optional<std::size_t> PipeClient::read(char* buffer, std::size_t size) {
  if (size == 0) return 0;
  State& s = *state_;
  DWORD count = 0;
  DWORD error = s.io.finish(s.pipe, ReadFile(s.pipe, buffer, clamp(size), nullptr, s.io.start()), &count);
  if (error == ERROR_SUCCESS) return count;
  return std::nullopt;
}

bool PipeClient::write_message(const void* data, std::size_t size) {
  return write_on(state_->pipe, state_->io, data, size);
}

}  // namespace qor::platform
