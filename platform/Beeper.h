#pragma once
// The system's default beep.
class IBeeper {
public:
    virtual ~IBeeper() = default;
    virtual void beep() = 0;
};
