#pragma once

// Takes the live readings as the measurement window does, but without a window, as a program without a
// display takes them: notes the module's value at each reading message.

#include "core/systemvar.h"

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <vector>

class ReadingReceiver final : public QObject {
public:
    std::vector<std::int32_t> values;
    TForm6* module = nullptr;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == static_cast<QEvent::Type>(WM_NEWREADING)) {
            values.push_back(module->LiveValue);
            return true;
        }
        return QObject::event(event);
    }
};
