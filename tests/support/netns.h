#pragma once
// Two network namespaces joined by a veth pair, as two hosts of a test's own
// network: <prefix>.1 on the server side and <prefix>.2 on the client side.
// Nothing leaves the machine, and everything is removed at the end. Native
// only; needs root and iproute2 (`made` is false otherwise).
#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace qor::test {

struct NamespacePair {
  // `name` makes the namespace and interface names; `prefix` is the first
  // three parts of a private /30 network, such as "10.231.0".
  NamespacePair(const std::string& name, const std::string& prefix)
      : tag(std::to_string(getpid() % 100000)),
        server(name + "_s" + tag),
        client(name + "_c" + tag),
        server_address(prefix + ".1"),
        client_address(prefix + ".2") {
    std::string veth_s = name.substr(0, 3) + "s" + tag, veth_c = name.substr(0, 3) + "c" + tag;
    made = run("ip netns add " + server) && run("ip netns add " + client) &&
           run("ip link add " + veth_s + " netns " + server + " type veth peer name " + veth_c + " netns " + client) &&
           run("ip -n " + server + " addr add " + server_address + "/30 dev " + veth_s) &&
           run("ip -n " + client + " addr add " + client_address + "/30 dev " + veth_c) &&
           run("ip -n " + server + " link set " + veth_s + " up") &&
           run("ip -n " + client + " link set " + veth_c + " up") && run("ip -n " + server + " link set lo up") &&
           run("ip -n " + client + " link set lo up");
  }
  ~NamespacePair() {
    // Removing a namespace removes its end of the veth pair, and the pair.
    run("ip netns del " + server);
    run("ip netns del " + client);
  }
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;

  // The prefix that runs a command inside one of the two.
  std::string in_server() const { return "ip netns exec " + server + " "; }
  std::string in_client() const { return "ip netns exec " + client + " "; }

  static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

  std::string tag;
  std::string server;
  std::string client;
  std::string server_address;
  std::string client_address;
  bool made = false;
};

}  // namespace qor::test
#endif
