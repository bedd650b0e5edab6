// Opening the host's data pipe, waiting for its messages, sending data to
// terminals, closing the pipes.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "client/client_state.h"
#include "client/host_api.h"
#include "link/names.h"
#include "platform/clock.h"

namespace qor::client {

namespace {

// The selection that QORLink_OpenPipe passes through first, so that the
// real one always builds a fresh connection object.
constexpr const char* dummy_instance = "VeryDummy";

std::int32_t read_once(const char* machine, const char* instance, std::int32_t* terminal, std::int32_t wait_ms,
                       char* pipe_name_and_type, char* buffer, std::int32_t buffer_size) {
  Connection connection;
  std::string qualified = client_state().select(machine, instance, pipe_name_and_type, &connection);
  if (!connection) return result_undefined;
  std::string text = connection->Receive(qualified, wait_ms);
  if (connection->connected() == 0) return result_not_started;
  if (text.empty()) return result_timeout;

  std::size_t size = static_cast<std::size_t>(buffer_size);
  if (qualified == link::monitor_pipe_name()) {  // monitor texts are passed on whole
    std::size_t n = std::min(text.size(), size);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<std::int32_t>(n);
  }
  SplitMessage message = split_message(text);
  if (message.has_terminal) *terminal = message.terminal;
  if (message.has_type) {
    std::size_t n = std::min(message.type.size(), type_buffer_size - 1);
    std::memcpy(pipe_name_and_type, message.type.data(), n);
    pipe_name_and_type[n] = '\0';
  }
  std::size_t n = std::min(message.data.size(), size);
  std::memcpy(buffer, message.data.data(), n);
  buffer[n] = '\0';
  return static_cast<std::int32_t>(n);
}

}  // namespace

std::int32_t leading_digits(const std::string& text) {
  long long value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = value * 10 + (c - '0');
    if (value > 2147483647) value = 2147483647;  // a huge number stays a number
  }
  return static_cast<std::int32_t>(value);
}

SplitMessage split_message(const std::string& text) {
  SplitMessage message;
  message.data = text;
  std::size_t bar = message.data.find('|');
  if (bar != std::string::npos && bar > 0) {
    message.has_terminal = true;
    message.terminal = leading_digits(message.data.substr(0, bar));
    message.data.erase(0, bar + 1);
  }
  bar = message.data.find('|');
  if (bar != std::string::npos && bar > 0) {
    message.has_type = true;
    message.type = message.data.substr(0, bar);
    message.data.erase(0, bar + 1);
  }
  return message;
}

std::int32_t OpenPipe(const char* machine, const char* instance, const char* pipe_name) {
  if (!machine || !instance || !pipe_name) return result_bad_parameter;
  ClientState& state = client_state();
  // Through a selection no real server has, so the request below goes out
  // on a new connection object (each replacement costs a second).
  state.select(".", dummy_instance, pipe_name, nullptr);
  Connection connection;
  std::string qualified = state.select(machine, instance, pipe_name, &connection);
  if (!connection) return result_undefined;
  if (connection->OpenPipe(qualified) <= 0) {
    connection.reset();
    state.close_all_pipes();
    return result_not_started;
  }
  state.reopened = true;
  state.add_opened(OpenedPipe{pipe_name, machine, instance});
  platform::sleep_ms(10);
  return result_ok;
}

std::int32_t ClosePipe(const char* machine, const char* instance, const char* pipe_name) {
  if (!machine || !instance || !pipe_name) return result_bad_parameter;
  client_state().close_all_pipes();
  return result_not_started;
}

std::int32_t WaitData(const char* machine, const char* instance, std::int32_t* terminal, std::int32_t wait_ms,
                      char* pipe_name_and_type, char* buffer, std::int32_t buffer_size) {
  if (wait_ms < 0 || buffer_size < 0 || !pipe_name_and_type || !buffer || !terminal || !machine || !instance)
    return result_bad_parameter;
  std::int32_t r = read_once(machine, instance, terminal, wait_ms, pipe_name_and_type, buffer, buffer_size);
  if (r < 1 && client_state().reopened.exchange(false))
    r = read_once(machine, instance, terminal, wait_ms, pipe_name_and_type, buffer, buffer_size);
  return r;
}

std::int32_t SendData(const char* machine, const char* instance, std::int32_t terminal, std::int32_t wait_ms,
                      const char* type, const char* data, std::int32_t length) {
  if (wait_ms < 0 || length < 1 || !type || !machine || !instance || !data || terminal < 0 || terminal > 255)
    return result_bad_parameter;
  Connection connection;
  std::string qualified = client_state().select(machine, instance, type, &connection);
  if (!connection) return result_not_started;
  std::string message = std::to_string(terminal) + "|" + qualified + "|" + data;
  int r = connection->Send(message, wait_ms);
  if (connection->connected() == 0) {
    if (std::strcmp(type, link::monitor_pipe_name()) != 0) return result_not_started;
    r = connection->Send(message, wait_ms);
    if (connection->connected() == 0) return result_not_started;
  }
  return r != 0 ? static_cast<std::int32_t>(std::strlen(data)) : result_undefined;
}

}  // namespace qor::client
