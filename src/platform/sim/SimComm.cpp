#include "platform/sim/SimComm.h"

namespace korvel {

SimComm::SimComm(SimLoop& loop, SimLine::Endpoint& end)
    : BufferedSerialComm(loop, [this, &loop, &end](int16_t port, const LineSettings& line) {
          auto transport = std::make_unique<SimLineTransport>(loop, end, &written_);
          transport->setOpenCheck([this](const Endpoint& where) {
              if (openCheck_) openCheck_(where.port);
          });
          transport->setCloseHook([this] {
              if (closeHook_) closeHook_();
          });
          Endpoint where;
          where.path = "sim";
          where.port = port;
          transport->open(where, line);
          return transport;
      }) {}

}  // namespace korvel
