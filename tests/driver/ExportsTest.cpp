// The library as a recorder sees it: loaded with dlopen, five names found
// with dlsym, nothing else exported.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "host/CCaptureAPIEx.h"
#include "host/HalyardExports.h"
#include "host/IIPCaptureDriver.h"
#include "tests/host/TestCapabilities.h"
#include "tests/host/TestCaptureUser.h"

namespace {

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        m_handle = dlopen(HALYARD_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr) << dlerror();
        create = reinterpret_cast<CreateCaptureFn>(dlsym(m_handle, "CreateCapture"));
        destroy = reinterpret_cast<DeleteCaptureFn>(dlsym(m_handle, "DeleteCapture"));
        query = reinterpret_cast<QueryModelCapabilitiesFn>(dlsym(m_handle, "QueryModelCapabilities"));
        ASSERT_NE(create, nullptr);
        ASSERT_NE(destroy, nullptr);
        ASSERT_NE(query, nullptr);
        ASSERT_NE(dlsym(m_handle, "CreateIPCapture"), nullptr);
        ASSERT_NE(dlsym(m_handle, "DeleteIPCapture"), nullptr);
    }
    void TearDown() override {
        if (m_handle != nullptr) dlclose(m_handle);
    }
    void* m_handle = nullptr;
    CreateCaptureFn create = nullptr;
    DeleteCaptureFn destroy = nullptr;
    QueryModelCapabilitiesFn query = nullptr;
};

TEST(Exports, ExactlyTheFiveNames) {
    const std::string command = std::string("nm -D --defined-only ") + HALYARD_LIBRARY_PATH;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof(line), pipe.get()) != nullptr) {
        char type = 0;
        char name[400] = {0};
        unsigned long long address = 0;
        if (std::sscanf(line, "%llx %c %399s", &address, &type, name) == 3 && type != 'A') names.insert(name);
    }
    const std::set<std::string> expected = {"CreateCapture", "DeleteCapture", "CreateIPCapture", "DeleteIPCapture",
                                            "QueryModelCapabilities"};
    EXPECT_EQ(names, expected);
}

TEST_F(LoadedLibrary, QueryModelCapabilitiesAddsNineIntervalsThenTheDefault) {
    testhost::TestCapabilities capabilities;
    EXPECT_EQ(query(0, 5, &capabilities), 0);
    EXPECT_TRUE(capabilities.list.calls.Entries().empty());
    EXPECT_EQ(query(3, 0, &capabilities), 1);
    const std::vector<std::string> expected = {"GetList 1", "Add 66", "Add 100", "Add 125", "Add 166", "Add 200",
                                               "Add 250",   "Add 333", "Add 500", "Add 1000", "Default 200"};
    EXPECT_EQ(capabilities.list.calls.Entries(), expected);
}

TEST_F(LoadedLibrary, DeleteCaptureNullsTheHostsPointer) {
    CCaptureAPIEx* capture = create(0);
    ASSERT_NE(capture, nullptr);
    EXPECT_TRUE(destroy(&capture));
    EXPECT_EQ(capture, nullptr);
    EXPECT_FALSE(destroy(&capture));
    EXPECT_FALSE(destroy(nullptr));
}

TEST_F(LoadedLibrary, TwoDriverObjectsShareNothing) {
    CCaptureAPIEx* first = create(1);
    CCaptureAPIEx* second = create(2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    testhost::TestCaptureUser firstUser, secondUser;
    first->SetCaptureUser(&firstUser);
    second->SetCaptureUser(&secondUser);
    first->SetParameter("IPSERVERADDRESS", "10.0.0.1", 8);
    second->SetParameter("IPSERVERADDRESS", "10.0.0.2", 8);
    char text[32];
    EXPECT_TRUE(destroy(&first));
    ASSERT_EQ(second->GetParameter("ipAddress", text, sizeof(text)), 1);
    EXPECT_STREQ(text, "10.0.0.2");
    // The survivor still opens, fails for want of a model, and reports to its own host.
    EXPECT_EQ(second->Open(""), 0);
    EXPECT_EQ(secondUser.MessageCount("IP Server Type hasn't been set", 1), 1u);
    EXPECT_EQ(firstUser.Messages().size(), 0u);
    EXPECT_TRUE(destroy(&second));
}

TEST_F(LoadedLibrary, IPCaptureObjectsAndForeignPointers) {
    auto createIP = reinterpret_cast<CreateIPCaptureFn>(dlsym(m_handle, "CreateIPCapture"));
    auto deleteIP = reinterpret_cast<DeleteIPCaptureFn>(dlsym(m_handle, "DeleteIPCapture"));
    kestrel::ipcapture::IIPCaptureDriver* driver = createIP();
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->GetIOApi(), nullptr);
    driver->Shutdown();
    driver->Shutdown();
    deleteIP(nullptr);
    // Another implementation of the interface is not ours to delete.
    class Foreign : public kestrel::ipcapture::IIPCaptureDriver {
    public:
        bool Initialize(kestrel::ipcapture::IHostSink*, IFrameAllocator*, kestrel::ipcapture::IDeviceDescription*) override {
            return false;
        }
        void Shutdown() override {}
        kestrel::ipcapture::IIPVideoCapture* GetVideoCapture() override { return nullptr; }
        kestrel::ICaptureIOApi* GetIOApi() override { return nullptr; }
    } foreign;
    deleteIP(&foreign);
    deleteIP(driver);
}

}  // namespace
