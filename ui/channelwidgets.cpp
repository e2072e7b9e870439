// SPDX-License-Identifier: MIT
#include "channelwidgets.h"

#include "ui/mainwindowform.h"

#include <QtGlobal>

namespace pidtune {

ChannelWidgets channelWidgets(const MainWindowForm &form, int channel)
{
#define PIDTUNE_ROW(N)                                                                             \
    case N:                                                                                        \
        return {form.data_##N##_Type_Flag_TextEdit, form.data_##N##_Min_TextEdit,                  \
                form.data_##N##_Max_TextEdit,       form.data_##N##_value_Qslider,                 \
                form.data_##N##_value_QLabel,       form.data_##N##_enable_CheckBox};
    switch (channel) {
        PIDTUNE_ROW(1)
        PIDTUNE_ROW(2)
        PIDTUNE_ROW(3)
        PIDTUNE_ROW(4)
        PIDTUNE_ROW(5)
        PIDTUNE_ROW(6)
    }
#undef PIDTUNE_ROW
    qFatal("channel %d does not exist", channel);
}

} // namespace pidtune
