#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "host/CCaptureAPIEx.h"
#include "host/IIPCaptureDriver.h"
#include "tests/driver/DriverTestSupport.h"
#include "tests/host/TestCapabilities.h"
#include "tests/host/TestCaptureUser.h"

namespace {

using Library = drivertest::LoadedLibrary;

TEST(Exports, ExactlyTheFiveNames) {
    const std::string command = std::string("nm -D --defined-only ") + HALYARD_LIBRARY_PATH;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512], name[400], type = 0;
    unsigned long long address = 0;
    while (fgets(line, sizeof(line), pipe.get()) != nullptr) {
        if (std::sscanf(line, "%llx %c %399s", &address, &type, name) == 3 && type != 'A') names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"CreateCapture", "DeleteCapture", "CreateIPCapture", "DeleteIPCapture",
                                            "QueryModelCapabilities"}));
}

TEST_F(Library, QueryModelCapabilitiesAddsNineIntervalsThenTheDefault) {
    testhost::TestCapabilities capabilities;
    EXPECT_EQ(query(0, 5, &capabilities), 0);
    EXPECT_TRUE(capabilities.list.calls.Entries().empty());
    EXPECT_EQ(query(3, 0, &capabilities), 1);
    EXPECT_EQ(capabilities.list.calls.Entries(),
              (std::vector<std::string>{"GetList 1", "Add 66", "Add 100", "Add 125", "Add 166", "Add 200", "Add 250",
                                        "Add 333", "Add 500", "Add 1000", "Default 200"}));
}

TEST_F(Library, DriverObjectsAreIndependentAndDeleteNullsThePointer) {
    CCaptureAPIEx* first = create(1);
    CCaptureAPIEx* second = create(2);
    ASSERT_TRUE(first && second);
    testhost::TestCaptureUser firstUser, secondUser;
    first->SetCaptureUser(&firstUser);
    second->SetCaptureUser(&secondUser);
    first->SetParameter("IPSERVERADDRESS", "10.0.0.1", 8);
    second->SetParameter("IPSERVERADDRESS", "10.0.0.2", 8);
    EXPECT_TRUE(destroy(&first));
    EXPECT_EQ(first, nullptr);
    EXPECT_FALSE(destroy(&first));
    EXPECT_FALSE(destroy(nullptr));
    char text[32];
    ASSERT_EQ(second->GetParameter("ipAddress", text, sizeof(text)), 1);
    EXPECT_STREQ(text, "10.0.0.2");
    // The survivor still opens, fails for want of a model, and tells its own host.
    EXPECT_EQ(second->Open(""), 0);
    EXPECT_EQ(secondUser.MessageCount("IP Server Type hasn't been set", 1), 1u);
    EXPECT_TRUE(firstUser.Messages().empty());
    EXPECT_TRUE(destroy(&second));
}

TEST_F(Library, IPCaptureObjectsAndForeignPointers) {
    kestrel::ipcapture::IIPCaptureDriver* driver = createIP();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->GetIOApi(), nullptr);
    driver->Shutdown();
    driver->Shutdown();
    deleteIP(nullptr);
    // Another implementation of the interface is not ours to delete.
    class Foreign : public kestrel::ipcapture::IIPCaptureDriver {
    public:
        bool Initialize(kestrel::ipcapture::IHostSink*, IFrameAllocator*,
                        kestrel::ipcapture::IDeviceDescription*) noexcept override {
            return false;
        }
        void Shutdown() noexcept override {}
        kestrel::ipcapture::IIPVideoCapture* GetVideoCapture() noexcept override { return nullptr; }
        kestrel::ICaptureIOApi* GetIOApi() noexcept override { return nullptr; }
    } foreign;
    deleteIP(&foreign);
    deleteIP(driver);
}

}  // namespace
