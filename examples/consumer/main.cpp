// A host of the installed library: one basic payment of 15.00 on the terminal at DEVICE.
// Prints the reply, or the error tag when none came; exits 0 only when a reply came.
#include <korvelcom/KorvelComTools.h>

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: korvelcom-consumer DEVICE\n";
        return 2;
    }
    korvel::PortMap::set(1, argv[1]);  // port 1 (COM1) leads to DEVICE
    korvel::KorvelComTools control;
    control.setCommPort(1);
    control.setPOSAmount("00001500");
    const std::string reply = control.POSMessage();
    std::cout << (reply.empty() ? control.ReceiveError() : "reply: " + reply) << '\n';
    return reply.empty() ? 1 : 0;
}
