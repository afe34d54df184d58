#pragma once

#include "FrameClient.h"

#include <QWidget>

namespace vorlund {

// A black view that offers no command: the program runs with it until the capture view is
// built in.
class PlaceholderView : public QWidget, public IFrameClient
{
public:
    explicit PlaceholderView(QWidget *parent = nullptr);

    QWidget *Widget() override { return this; }
    void OnCommand(int) override { }
    bool IsCommandEnabled(int) const override { return false; }
    void OnServiceClose() override { }
    void OnSnapshotRequest() override { }
    void OnClose() override { }
};

} // namespace vorlund
