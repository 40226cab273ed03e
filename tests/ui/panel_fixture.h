#pragma once
// The main control panel against the in-process box, offscreen: a temporary current
// directory for the options and memory files, a fake clock, recorded messages, and a
// dialog runner that records which dialog ran instead of running it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMetaObject>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TopDialog.h"
#include "link/RS232c_bios.h"
#include "settings/OptionFile.h"
#include "settings/OptionFile.h"
#include "sim/BoxModel.h"
#include "tests/support/BoxPort.h"
#include "tests/support/Recorders.h"
#include "tests/support/TestApp.h"
#include "tests/support/TestSeam.h"
#include "ui/LayoutDialog.h"

namespace dpx::test {

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        ASSERT_TRUE(dir_.ok());
        // Every COM number serves the one box; `silent` makes the box take frames unanswered.
        link_.SetPortFactory([this](int n) -> std::unique_ptr<SerialPort> {
            auto port = std::make_unique<BoxPort>(box_, n);
            port->silent = silent_;
            ports_.push_back(port.get());
            return port;
        });
        // The dialog never runs (nor initialises, which would send): the "operator" acts
        // through on_dialog_, which may hand the dialog new values.
        seam_.Hook(ui::SetDialogRunner, [this](ui::LayoutDialog& dialog) {
            ran_.push_back(dialog.metaObject()->className());
            ran_layouts_.push_back(dialog.layout().id);
            if (on_dialog_) on_dialog_(dialog);
            return 0;
        });
    }
    void TearDown() override {
        panel_.reset();
    }

    // Creates the panel and runs its initialisation, as the first show does.
    TopDialog& Start() {
        panel_ = std::make_unique<TopDialog>(link_);
        panel_->EnsureInitialised();
        return *panel_;
    }
    // Writes the options file of the temporary directory from `record`.
    void WriteOptions(const SettingsRecord& record) { WriteFile("dpx20remote.ini", OptionFileText(record)); }
    void WriteFile(const std::string& name, const std::string& text) {
        QFile file(QString::fromStdString(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
    static std::string ReadFile(const std::string& name) {
        QFile file(QString::fromStdString(name));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return file.readAll().toStdString();
    }
    static bool Exists(const std::string& name) { return QFile::exists(QString::fromStdString(name)); }
    static void Remove(const std::string& name) { QFile::remove(QString::fromStdString(name)); }
    // The panel's record, and whether its CONNECT is asked for.
    SettingsRecord& Settings() { return panel_->BoxSession().Record(); }
    bool Wanted() const { return panel_->BoxSession().Wanted(); }
    // The options file holds exactly the live settings.
    std::string LiveText() { return OptionFileText(Settings()); }

    QAbstractButton* Button(int id) const { return ui::Control<QAbstractButton>(panel_.get(), id); }
    void Click(int id) {
        QAbstractButton* b = Button(id);
        ASSERT_NE(b, nullptr) << "no control " << id;
        b->click();
    }
    bool Checked(int id) const {
        QAbstractButton* b = Button(id);
        return b && b->isChecked();
    }
    std::vector<int> SelectedComPorts() const {
        std::vector<int> selected;
        for (int n = 1; n <= 8; ++n)
            if (ui::IsRadioSelected(panel_.get(), panel::ComPortRadio(n))) selected.push_back(n);
        return selected;
    }
    std::string DebugField() const {
        auto* field = ui::Control<QLineEdit>(panel_.get(), panel::kDebugField);
        return field ? field->text().toStdString() : "<no field>";
    }

    // Connects the link directly (as a successful CONNECT leaves it) and forgets the frames.
    void ConnectQuietly() {
        link_.SetDebugMode(0);
        ASSERT_EQ(link_.SetComNumber(Settings().com_port_num), 1);
        ASSERT_EQ(link_.ConnectLink(1), 1);
        link_.SetDebugMode(Settings().debug_mode);
        panel_->BoxSession().SetWanted(true);
        if (QAbstractButton* b = Button(panel::kConnect)) b->setChecked(true);
        box_.ClearHistory();
    }
    // The value commands the box received, in order (login and category selects left out).
    std::vector<std::string> ValueWords() const {
        std::vector<std::string> words;
        for (const sim::Exchange& ex : box_.History())
            if (ex.command >= kINPSE && ex.command <= kCONVE) words.push_back(ex.word);
        return words;
    }

    TemporaryCurrentDir dir_;
    FakeClock clock_;
    MessageRecorder messages_;
    FatalExitRecorder exits_;
    sim::BoxModel box_;
    RS232c_bios link_;
    TestSeam seam_;  // after the link: restores its hooks first
    bool silent_ = false;
    std::vector<BoxPort*> ports_;
    std::vector<std::string> ran_;     // class names of the dialogs run
    std::vector<int> ran_layouts_;     // their layout ids
    std::function<void(ui::LayoutDialog&)> on_dialog_;  // what the "operator" does in a dialog
    std::unique_ptr<TopDialog> panel_;
};

}  // namespace dpx::test
