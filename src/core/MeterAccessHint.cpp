#include "core/MeterAccessHint.h"

QString MeterAccessHint()
{
    return QStringLiteral(
        "A sound level meter is plugged in, but this user may not open it, so Decimora cannot talk to it.\n"
        "\n"
        "To grant access, install the Decimora package, which brings the udev rule that gives the user at "
        "the seat access to the meter. Or install the rule from Decimora's source by hand:\n"
        "    sudo install -m 644 packaging/70-decimora-meter.rules /etc/udev/rules.d/\n"
        "    sudo udevadm control --reload-rules && sudo udevadm trigger\n"
        "Then unplug the meter and plug it in again. A user logged in without a seat (over ssh, or a "
        "service) gets no access from that rule: add a rule of your own that gives the meter's node to "
        "that user's group.");
}
