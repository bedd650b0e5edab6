// Terminal data for the hosts: Pipe_WriteData routes it through the dispatch
// entries to a data pipe's queue or a data file; the window transport's data
// block feeds the same road, and its read request takes a message out.
#include <cstdio>
#include <memory>

#include "link/blocks.h"
#include "link/chunks.h"
#include "link/names.h"
#include "link/protocol.h"
#include "pipehost/cdispatcher.h"
#include "pipehost/data_files.h"
#include "pipehost/named_pipe_command.h"
#include "pipehost/plugin.h"
#include "pipehost/plugin_state.h"
#include "platform/clock.h"
#include "platform/thread_queue.h"

namespace qor::pipehost {

namespace {

void append_to_data_file(PluginState& state, CDispatcher& entry, std::int32_t terminal, const char* packetType,
                         const char* data) {
  std::lock_guard<std::mutex> guard(entry.lock);
  std::string path = resolve_data_path(entry.filePath, default_data_path(state));
  if (!file_exists(path)) create_directory_chain(path);
  // A file that cannot be opened drops the data silently.
  append_text(path, data_file_line(state.terminalHeader, state.typeHeader, terminal, packetType, data));
}

// Posts a message to a window-transport client: its chunks, then ACK.
bool post_as_chunks(platform::ThreadId client, const std::string& text) {
  for (const link::Chunk& chunk : link::split_into_chunks(text))
    if (!platform::post_thread_message(client, link::MSG_DATA_CHUNK, chunk.first, chunk.second)) return false;
  return platform::post_thread_message(client, link::MSG_REPLY_ACK, 0, 0);
}

}  // namespace

std::int32_t PipeWriteData(PluginState& state, std::int32_t terminal, std::int32_t reserved, const char* packetType,
                           const char* data, std::int32_t length) {
  platform::serve_sent_messages();
  if (reserved < 0 || length < 0 || !data || !packetType || terminal < 0 || terminal > 255) return -5;
  if (InstanceHeldElsewhere(state) && !state.window) return -11;
  EnsureWindow(state);
  if (!endpoint_globals().answerEndpoint) return -11;

  CDispatcher* match = nullptr;
  for (auto& entry : state.dispatchers)
    if (entry->accepts(packetType, terminal)) {
      match = entry.get();
      break;
    }
  if (!match) return -11;

  std::int32_t result = -11;
  if (!match->pipeName.empty() && match->endpoint) {
    bool open;
    {
      std::lock_guard<std::mutex> guard(match->lock);
      open = match->openCount > 0 || match->persistent;
    }
    if (open) {
      std::string text = std::to_string(terminal) + "|" + packetType + "|" + data;
      if (match->endpoint->QueueForDelivery(text)) {
        platform::sleep_ms(5);
        result = length;
      } else {
        result = 0;
      }
    }
  }
  if (!match->filePath.empty()) append_to_data_file(state, *match, terminal, packetType, data);
  return result;
}

std::uint32_t HandleDataBlock(PluginState& state, const void* bytes, std::uint32_t size) {
  link::DataBlock block;
  if (!link::decode_data_block(bytes, size, block)) return 0;
  std::int32_t result = PipeWriteData(state, block.terminal, 250, block.type.c_str(), block.data.c_str(),
                                      static_cast<std::int32_t>(block.data.size()));
  // Only data that went to a host pipe counts as taken: -11 (nothing took
  // it) is no success.
  return result > 0 ? 1 : 0;
}

void HandleReadRequest(PluginState& state, std::uint32_t client_thread, const std::string& name) {
  if (link::equals_ignoring_case(name, "PipeHost_" + state.instanceName)) {
    CNamedPipeCommand* answer = endpoint_globals().answerEndpoint;
    std::unique_ptr<CTcpipMessage> request = answer ? answer->TakeRequest() : nullptr;
    if (!request) {
      platform::post_thread_message(client_thread, link::MSG_REPLY_NAK, 0, 0);
      return;
    }
    std::string text = request->number >= 1 ? link::delivered_message(request->number, request->text) : request->text;
    if (!post_as_chunks(client_thread, text)) answer->RequeueRequest(std::move(request));
    return;
  }
  CNamedPipeCommand* source = nullptr;
  for (auto& endpoint : state.endpoints)
    if (endpoint->name() == name) {
      source = endpoint.get();
      break;
    }
  CTcpipMessage* message = source ? source->TakeNextPending() : nullptr;
  if (!message) {
    platform::post_thread_message(client_thread, link::MSG_REPLY_NAK, 0, 0);
    return;
  }
  std::string text = message->number >= 1 ? link::delivered_message(message->number, message->text) : message->text;
  if (post_as_chunks(client_thread, text))
    source->CompleteMessage(message);
  else
    source->RequeueMessage(message);
}

}  // namespace qor::pipehost
