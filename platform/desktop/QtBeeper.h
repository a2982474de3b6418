#pragma once
#include "platform/Beeper.h"

// The beep of the desktop, through Qt.
class QtBeeper final : public IBeeper {
public:
    void beep() override;
};
