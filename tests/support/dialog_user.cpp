// A user in front of the configuration dialog.
#include "dialog_user.h"

#include "resource.h"

#include <gtest/gtest.h>

namespace vtest {

DialogUser &DialogUser::Key(int vk)
{
    acts.push_back([vk](HWND) { sim::KeyPress(vk); });
    return *this;
}

DialogUser &DialogUser::Type(const std::string &text)
{
    acts.push_back([text](HWND) { sim::TypeText(text); });
    return *this;
}

DialogUser &DialogUser::Click(int id)
{
    acts.push_back([id](HWND dialog) { sim::ClickItem(dialog, id); });
    return *this;
}

DialogUser &DialogUser::CloseBox()
{
    acts.push_back([](HWND dialog) { sim::PressCloseBox(dialog); });
    return *this;
}

DialogUser &DialogUser::FocusIs(int id)
{
    acts.push_back([id](HWND dialog) {
        EXPECT_EQ(sim::FocusWindow(), sim::DialogItem(dialog, id)) << "focus on control " << id;
    });
    return *this;
}

DialogUser &DialogUser::Read(int id, std::string *text)
{
    acts.push_back([id, text](HWND dialog) { *text = sim::ItemText(dialog, id); });
    return *this;
}

DialogUser &DialogUser::ToSeconds()
{
    return Key(VK_TAB).Key(VK_TAB).FocusIs(IDC_SECONDS);
}

void ScheduleDialogUser(const DialogUser &user, uint64_t opened, uint64_t gap, bool *rescued)
{
    for (size_t i = 0; i < user.acts.size(); ++i) {
        auto act = user.acts[i];
        sim::At(opened + gap * (i + 1), [act] {
            if (HWND dialog = sim::ActiveDialog())
                act(dialog);
        });
    }
    sim::At(opened + gap * (user.acts.size() + 1) + 5000, [rescued] {
        if (HWND dialog = sim::ActiveDialog()) {
            if (rescued != nullptr)
                *rescued = true;
            sim::PressCloseBox(dialog);
        }
    });
}

}  // namespace vtest
