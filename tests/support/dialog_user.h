// A user in front of the configuration dialog: keys, typing and clicks taken
// one after the other, with time between them, because input goes through
// the queue and a character goes to the control that has the focus when it
// is typed.
#ifndef VELLOMIRE_TESTS_DIALOG_USER_H
#define VELLOMIRE_TESTS_DIALOG_USER_H

#include "simctl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vtest {

struct DialogUser {
    std::vector<std::function<void(HWND)>> acts;

    DialogUser &Key(int vk);
    DialogUser &Type(const std::string &text);
    DialogUser &Click(int id);
    DialogUser &CloseBox();
    // Checks that the focus is on control id now.
    DialogUser &FocusIs(int id);
    DialogUser &Read(int id, std::string *text);
    // Tab from the OK button (the first tab stop, focused at the start)
    // past Cancel to the seconds field, which selects its whole text.
    DialogUser &ToSeconds();
};

// Schedules the acts gap ms apart after opened, each on the dialog that is
// up then; a dialog still open five seconds after the last act is closed
// with its close box, and *rescued (when given) says so.
void ScheduleDialogUser(const DialogUser &user, uint64_t opened, uint64_t gap,
                        bool *rescued = nullptr);

}  // namespace vtest

#endif
