// Operations for the tests: each operation with a hook set runs the hook; the others go to
// `base` when one is given (the window's desktop, say), else to the defaults of a build
// without the operation. The hooks keep the shapes the tests record with: a set hook counts
// as available (renderView, computeWaterfall, createZoomWindow answer true), and the
// configuration hook says whether the file was read.
#pragma once

#include "app/Commands.h"

#include <functional>
#include <string>

namespace testsupport
{

class HookOperations : public app::Operations
{
public:
    struct Hooks {
        std::function<void()> runReferenceMeasurement;
        std::function<void()> runAmplitudePhaseMeasurement;
        std::function<void()> runImpedanceMeasurement;
        std::function<void()> measureTsParameters;
        std::function<void()> startLevelMeasurement;
        std::function<void(int fftLength)> computeWaterfall;
        std::function<void(int code)> renderView;

        std::function<files::LoadOutcome()> loadMeasurementFile;
        std::function<void()> saveMeasurementFile;
        std::function<files::LoadOutcome()> importVersion133;
        std::function<files::LoadOutcome()> importVersion21;
        std::function<bool()> loadConfigurationFile; // false: the file was not read
        std::function<void()> saveConfigurationFile;
        std::function<void(app::Export)> exportData;
        std::function<void()> importMicFile;

        std::function<void(app::Dialog)> runDialog;

        std::function<void()> invalidateMain;
        std::function<void()> invalidateZoom;
        std::function<void()> repaintMainNow;
        std::function<void()> repaintZoomNow;
        std::function<void()> createZoomWindow;
        std::function<void()> destroyZoomWindow;
        std::function<void(bool pressed)> setZoomButton;
        std::function<void()> printerSetup;
        std::function<void(int kind)> printView;
        std::function<void(const std::string& keyword)> showHelp;
        std::function<void()> closeMainWindow;

        std::function<bool(int id)> extraCommand;
        std::function<bool(app::Replaces what)> confirmDiscard;
    };

    Hooks on;
    app::Operations* base = nullptr;

    void runReferenceMeasurement() override
    {
        if (on.runReferenceMeasurement)
            on.runReferenceMeasurement();
        else
            other().runReferenceMeasurement();
    }
    void runAmplitudePhaseMeasurement() override
    {
        if (on.runAmplitudePhaseMeasurement)
            on.runAmplitudePhaseMeasurement();
        else
            other().runAmplitudePhaseMeasurement();
    }
    void runImpedanceMeasurement() override
    {
        if (on.runImpedanceMeasurement)
            on.runImpedanceMeasurement();
        else
            other().runImpedanceMeasurement();
    }
    void measureTsParameters() override
    {
        if (on.measureTsParameters)
            on.measureTsParameters();
        else
            other().measureTsParameters();
    }
    void startLevelMeasurement() override
    {
        if (on.startLevelMeasurement)
            on.startLevelMeasurement();
        else
            other().startLevelMeasurement();
    }
    bool computeWaterfall(int fftLength) override
    {
        if (!on.computeWaterfall)
            return other().computeWaterfall(fftLength);
        on.computeWaterfall(fftLength);
        return true;
    }
    bool renderView(int code) override
    {
        if (!on.renderView)
            return other().renderView(code);
        on.renderView(code);
        return true;
    }

    files::LoadOutcome loadMeasurementFile() override
    {
        return on.loadMeasurementFile ? on.loadMeasurementFile() : other().loadMeasurementFile();
    }
    void saveMeasurementFile() override
    {
        if (on.saveMeasurementFile)
            on.saveMeasurementFile();
        else
            other().saveMeasurementFile();
    }
    files::LoadOutcome importVersion133() override
    {
        return on.importVersion133 ? on.importVersion133() : other().importVersion133();
    }
    files::LoadOutcome importVersion21() override
    {
        return on.importVersion21 ? on.importVersion21() : other().importVersion21();
    }
    files::LoadOutcome loadConfigurationFile() override
    {
        if (!on.loadConfigurationFile)
            return other().loadConfigurationFile();
        return on.loadConfigurationFile() ? files::LoadOutcome::Loaded : files::LoadOutcome::Failed;
    }
    void saveConfigurationFile() override
    {
        if (on.saveConfigurationFile)
            on.saveConfigurationFile();
        else
            other().saveConfigurationFile();
    }
    void exportData(app::Export kind) override
    {
        if (on.exportData)
            on.exportData(kind);
        else
            other().exportData(kind);
    }
    void importMicFile() override
    {
        if (on.importMicFile)
            on.importMicFile();
        else
            other().importMicFile();
    }

    void runDialog(app::Dialog d) override
    {
        if (on.runDialog)
            on.runDialog(d);
        else
            other().runDialog(d);
    }

    void invalidateMain() override
    {
        if (on.invalidateMain)
            on.invalidateMain();
        else
            other().invalidateMain();
    }
    void invalidateZoom() override
    {
        if (on.invalidateZoom)
            on.invalidateZoom();
        else
            other().invalidateZoom();
    }
    void repaintMainNow() override
    {
        if (on.repaintMainNow)
            on.repaintMainNow();
        else
            other().repaintMainNow();
    }
    void repaintZoomNow() override
    {
        if (on.repaintZoomNow)
            on.repaintZoomNow();
        else
            other().repaintZoomNow();
    }
    bool createZoomWindow() override
    {
        if (!on.createZoomWindow)
            return other().createZoomWindow();
        on.createZoomWindow();
        return true;
    }
    void destroyZoomWindow() override
    {
        if (on.destroyZoomWindow)
            on.destroyZoomWindow();
        else
            other().destroyZoomWindow();
    }
    void setZoomButton(bool pressed) override
    {
        if (on.setZoomButton)
            on.setZoomButton(pressed);
        else
            other().setZoomButton(pressed);
    }
    void printerSetup() override
    {
        if (on.printerSetup)
            on.printerSetup();
        else
            other().printerSetup();
    }
    void printView(int kind) override
    {
        if (on.printView)
            on.printView(kind);
        else
            other().printView(kind);
    }
    void showHelp(const std::string& keyword) override
    {
        if (on.showHelp)
            on.showHelp(keyword);
        else
            other().showHelp(keyword);
    }
    void closeMainWindow() override
    {
        if (on.closeMainWindow)
            on.closeMainWindow();
        else
            other().closeMainWindow();
    }

    bool extraCommand(int id) override
    {
        return on.extraCommand ? on.extraCommand(id) : other().extraCommand(id);
    }
    bool confirmDiscard(app::Replaces what) override
    {
        return on.confirmDiscard ? on.confirmDiscard(what) : other().confirmDiscard(what);
    }

private:
    // The defaults are those of the base class, reached through a plain object of it.
    app::Operations& other() { return base ? *base : defaults_; }
    app::Operations defaults_;
};

} // namespace testsupport
