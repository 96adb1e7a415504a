// CORE::sysconfig: settings bound to a registry key. init caches the key's values and hands the
// binding to the process-wide watcher, which calls `changed` for every value that changes;
// syncConfiguration does the same scan on the caller's thread.
#include "varnel/sysconfig.h"

#include "config_binding.h"
#include "config_watcher.h"
#include "runtime_log.h"
#include "varnel/host_control.h"

namespace CORE {

sysconfig::sysconfig() = default;

sysconfig::~sysconfig() { sysconfig::cleanup(); }

void sysconfig::cleanup() {
  std::shared_ptr<Binding> binding;
  {
    coresync hold(lock_);
    binding = binding_;  // kept: `get` still answers from the last settings
  }
  if (!binding) return;
  binding->deactivate();
  config::ConfigWatcher::instance().remove(binding);
}

bool sysconfig::init(const corestring& keyPath, const corestrmap& defaults, bool flag1, bool flag2) {
  (void)flag1;  // reserved
  (void)flag2;
  cleanup();
  auto binding = std::make_shared<Binding>(this, keyPath, defaults);
  const LSTATUS status = binding->key.open(keyPath);
  if (status != ERROR_SUCCESS) {
    runtime::log(Warn, L"configuration %s cannot be opened (%s); the defaults apply", keyPath,
                 corestring::formatError(static_cast<uint32_t>(status)));
    coresync hold(lock_);
    binding_ = std::move(binding);
    return false;
  }
  // Armed here as well as by the watcher, so that a change right after init is not missed
  // while the watcher thread has yet to arm it.
  binding->arm();
  binding->key.readAll(binding->seen);
  binding->settings = binding->seen;
  {
    coresync hold(lock_);
    binding_ = binding;
  }
  config::ConfigWatcher::instance().add(binding);
  return true;
}

void sysconfig::reload() {
  std::shared_ptr<Binding> binding;
  {
    coresync hold(lock_);
    binding = binding_;
  }
  if (binding) binding->rescan();
}

// Keeps the registry type of an existing DWORD value when the text is a number; otherwise
// writes text. The resulting `changed` has run when this returns.
bool sysconfig::update(const corestring& name, const corestring& value) {
  std::shared_ptr<Binding> binding;
  {
    coresync hold(lock_);
    binding = binding_;
  }
  if (!binding) return false;
  DWORD type = REG_NONE;
  if (binding->key.isOpen() &&
      RegQueryValueExW(binding->key.get(), name.c_str(), nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
    type = REG_NONE;
  }
  const corestring path = binding->keyPath + corestring(L"\\") + name;
  bool ok = type == REG_DWORD && value.writeRegistry(path, REG_DWORD, false, false);
  if (!ok) ok = value.writeRegistry(path, REG_SZ, false, false);
  if (ok) binding->rescan();
  return ok;
}

corestring sysconfig::get(const corestring& name) {
  coresync hold(lock_);
  if (!binding_) return corestring();
  auto it = binding_->settings.find(name);
  return it != binding_->settings.end() ? it->second : binding_->fallback(name);
}

bool sysconfig::getBool(const corestring& name) { return get(name).toBool(); }

int32_t sysconfig::getInt(const corestring& name) { return get(name).toInt(true); }

void sysconfig::changed(const corestring& name, corestring& value) {
  coresync hold(lock_);
  if (binding_) binding_->settings[name] = value;
}

void syncConfiguration() {
  for (const config::BindingPtr& binding : config::ConfigWatcher::instance().bindings()) binding->rescan();
}

}  // namespace CORE
