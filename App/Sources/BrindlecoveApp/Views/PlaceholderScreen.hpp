#pragma once
// The screen of a section whose own screen is not built yet: its title and one-line purpose.

#include "BrindlecoveApp/AppSection.hpp"

#include <QWidget>

namespace brindlecove {

class PlaceholderScreen : public QWidget {
    Q_OBJECT
public:
    explicit PlaceholderScreen(AppSection section, QWidget* parent = nullptr);
};

}  // namespace brindlecove
