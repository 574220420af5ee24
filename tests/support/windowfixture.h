#pragma once

#include <QComboBox>
#include <QTest>
#include <memory>

#include "app/frmserialdata.h"

// A loaded and shown window, as the program starts it.
inline std::unique_ptr<frmSerialData> openWindow()
{
    auto window = std::make_unique<frmSerialData>();
    if (!window->Form_Load())
        return nullptr;
    window->show();
    return window;
}


