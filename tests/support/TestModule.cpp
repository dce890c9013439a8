#include "support/TestModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

TestModule::TestModule(std::unique_ptr<ReadingStore> store)
{
    module = std::make_unique<TForm6>(ModuleServices { ui, clock, sound, meter, folder.path() }, std::move(store));
}

TestModule::~TestModule()
{
    module.reset();
}

bool TestModule::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool TestModule::connect()
{
    waitUntil([this] { return !module->DeviceList.empty(); }, 2000);
    return module->DeviceConnected;
}
