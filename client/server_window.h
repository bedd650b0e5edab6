#pragma once
// How QorLink finds a link server's main window, and the command line it
// starts a link server with.
#include <string>
#include <vector>

#include "platform/message.h"

namespace qor::client {

// The main window titles of an instance, in the order they are looked for:
// "QOR-Link" and "QOR-Link for IT", numbered "(NN)" when the instance begins
// with exactly "QORLNK" (the number is the digits that follow, 0 if none).
// Empty for a legacy instance, whose window carries the selected server
// window title.
std::vector<std::string> main_window_titles(const std::string& instance);

// The number that follows "QORLNK" at the start of the instance (leading
// digits, 0 when there are none); -1 when the instance does not begin with
// exactly "QORLNK".
int instance_number(const std::string& instance);

// The link server's main window (the root of its parent chain), or none.
platform::WindowHandle FindServerWindow(const std::string& instance);

// The program that serves an instance: "Rivo63.exe" for a legacy instance,
// else "qorlink.exe".
std::string server_program(const std::string& instance);

// What follows the program's path on its command line: " -splash -max",
// " -splash -min" or " -splash" for a legacy instance by mode; else " mini"
// in mode 2 and then " -N" for an instance QORLNK<N>.
std::string server_switches(const std::string& instance, int mode);

}  // namespace qor::client
