#pragma once
// Texts both ends of the conversation show.
#include <cstdint>

#include "core/text.h"

namespace movra::remote {

// Why a window and a service of different protocol versions cannot talk.
inline Text VersionMismatchText(uint32_t service, uint32_t window) {
    return Fmt(
        u"Версия протокола службы Movra (%u) не совпадает с версией окна (%u). "
        u"Установите Movra и службу Movra одной версии.",
        static_cast<unsigned>(service), static_cast<unsigned>(window));
}

}  // namespace movra::remote
