#pragma once
// The frame of the erase section's widget tests: the view under test, dropped before the
// sandbox goes, and its children looked up by objectName. Main thread.

#include "Support/AppTestSandbox.hpp"

#include <QLineEdit>

#include <gtest/gtest.h>

#include <memory>

namespace brindlecove::testing {

template <class View>
class EraseViewTest : public AppSandboxedTest {
protected:
    void TearDown() override {
        view.reset();
        AppSandboxedTest::TearDown();
    }

    template <class T>
    T* find(const char* name) {
        T* widget = view->template findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool shown(const char* name) { return !find<QWidget>(name)->isHidden(); }
    // Types `text` into the field `name` as a user does: the text, then textEdited.
    void edit(const char* name, const QString& text) {
        auto* field = find<QLineEdit>(name);
        field->setText(text);
        Q_EMIT field->textEdited(text);
    }

    std::unique_ptr<View> view;
};

}  // namespace brindlecove::testing
