#pragma once
// One regulator per machine: a control run holds this while it is connected, so the service and
// a desktop Movra (or two desktop copies in two sessions) never write limits at once. Imports
// only read and do not take it.
#include "core/text.h"

namespace movra {

class RegulatorLock {
  public:
    virtual ~RegulatorLock() = default;
    // Takes the machine's regulator place for the calling thread; false while another program
    // holds it. Called on the control run's thread, which also releases it.
    virtual bool TryHold() = 0;
    virtual void Release() = 0;
};

// What a control run does when the place is taken.
enum class BusyRegulator {
    kRefuse,  // the desktop edition: an error line and a box, no connection
    kWait,    // the service: a line saying it waits; its host tries again later
};

// The desktop edition's line and box (after "Ошибка подключения к ", the server's name).
Text RegulatorBusyText(const Text& server);
// The service's line.
inline const Text kRegulatorBusyWaitLine =
    u"Сервер уже регулирует другая копия Movra. Служба подключится, когда она отключится";

}  // namespace movra
