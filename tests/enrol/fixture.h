// The enrolment library loaded as a script host loads it, and a registry of
// the test's own.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "enrol/identities.h"
#include "enrol/quillon_iface.h"
#include "platform/com/object.h"
#include "platform/com/registry.h"

namespace cadb::enrol::test {

class QuillonModule : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-enrol-XXXXXX";
        dir_ = mkdtemp(tmpl);
        registry_ = dir_ + "/registry";
        setenv(com::kRegistryEnv, registry_.c_str(), 1);
        module_ = dlopen(QUILLON_MODULE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << dlerror();
        get_class_object_ =
            reinterpret_cast<com::DllGetClassObjectFn>(dlsym(module_, "DllGetClassObject"));
        can_unload_now_ =
            reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(module_, "DllCanUnloadNow"));
        register_ = reinterpret_cast<com::DllRegisterServerFn>(dlsym(module_, "DllRegisterServer"));
        unregister_ =
            reinterpret_cast<com::DllRegisterServerFn>(dlsym(module_, "DllUnregisterServer"));
        ASSERT_TRUE(get_class_object_ && can_unload_now_ && register_ && unregister_);
    }
    void TearDown() override {
        if (module_) dlclose(module_);
        unsetenv(com::kRegistryEnv);
        std::filesystem::remove_all(dir_);
    }

    com::ComPtr<IQuillon> create() {
        com::ComPtr<com::IClassFactory> factory;
        EXPECT_EQ(get_class_object_(CLSID_Quillon, com::IID_IClassFactory, factory.put_void()),
                  com::S_OK);
        com::ComPtr<IQuillon> q;
        if (factory) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IQuillon, q.put_void()), com::S_OK);
        }
        return q;
    }

    std::string dir_;
    std::string registry_;
    void* module_ = nullptr;
    com::DllGetClassObjectFn get_class_object_ = nullptr;
    com::DllCanUnloadNowFn can_unload_now_ = nullptr;
    com::DllRegisterServerFn register_ = nullptr;
    com::DllRegisterServerFn unregister_ = nullptr;
};

}  // namespace cadb::enrol::test
