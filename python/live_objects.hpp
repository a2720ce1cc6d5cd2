// Interpreter exit for objects that hold a share of a robot's client.
//
// A Robot, and every interface built from one, owns a share of the process-wide zenoh session and
// of the client's threads, and zenoh must not be called once its runtime is torn down at process
// exit. An object that a script still references when it ends (a module-level global, one kept by
// a daemon thread or a reference cycle) would otherwise be destroyed late in finalization, or
// never. The module therefore keeps weak references to the objects it creates, and an atexit hook
// destroys those still alive while the interpreter is fully up. Their Python objects remain;
// pybind11 hands a method of such an object a pointer to fresh, unconstructed storage instead of
// the destroyed object, so every operation checks its object first (Live) and raises RuntimeError
// for a released one instead of touching that storage.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bind_data.hpp"

namespace korvo::vyr_py {

template <typename T>
class LiveObjects {
 public:
  static LiveObjects& Get() {
    static LiveObjects registry;
    return registry;
  }

  void Add(const std::shared_ptr<T>& object) {
    std::lock_guard lock(mutex_);
    std::erase_if(objects_, [](const auto& entry) { return entry.second.expired(); });
    objects_.emplace_back(object.get(), object);
  }

  // Until the atexit hook has run, every object a Python object hands over is alive; afterwards
  // only those created since are.
  bool Alive(const T* object) {
    if (!released_.load()) return true;
    std::lock_guard lock(mutex_);
    return std::any_of(objects_.begin(), objects_.end(), [object](const auto& entry) {
      return entry.first == object && !entry.second.expired();
    });
  }

  // The objects still alive, which the registry forgets; from now on Alive() looks them up. The
  // pointers stay valid as long as their Python objects hold them.
  std::vector<const T*> TakeAll() {
    released_.store(true);
    std::vector<std::pair<const T*, std::weak_ptr<T>>> objects;
    {
      std::lock_guard lock(mutex_);
      objects.swap(objects_);
    }
    std::vector<const T*> alive;
    for (const auto& [object, weak] : objects) {
      if (!weak.expired()) alive.push_back(object);
    }
    return alive;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<const T*, std::weak_ptr<T>>> objects_;
  std::atomic<bool> released_{false};
};

// Destroys the C++ object of every Python object of class T still alive: its holder is destroyed
// as pybind11 does when the object is deallocated, and the instance is unregistered, so that the
// later deallocation of the Python object finds nothing left to destroy.
template <typename T>
void ReleaseLiveObjects() {
  const py::detail::type_info* type = py::detail::get_type_info(typeid(T));
  if (type == nullptr) return;
  for (const T* object : LiveObjects<T>::Get().TakeAll()) {
    const py::handle handle = py::detail::get_object_handle(object, type);
    if (!handle) continue;
    auto* instance = reinterpret_cast<py::detail::instance*>(handle.ptr());
    auto holder = instance->get_value_and_holder(type, /*throw_if_missing=*/false);
    if (!holder || !holder.holder_constructed()) continue;
    if (holder.instance_registered()) {
      py::detail::deregister_instance(instance, holder.value_ptr(), type);
      holder.set_instance_registered(false);
    }
    type->dealloc(holder);  // destroys the object; the value pointer becomes null
  }
}

// Registers the atexit hook of class T; call once, when the class is bound.
template <typename T>
void ReleaseAtExit() {
  py::module_::import("atexit").attr("register")(py::cpp_function(&ReleaseLiveObjects<T>));
}

// Creates a T that the atexit hook will release.
template <typename T, typename... Args>
std::shared_ptr<T> MakeLive(Args&&... args) {
  auto object = std::make_shared<T>(std::forward<Args>(args)...);
  LiveObjects<T>::Get().Add(object);
  return object;
}

// Creates an interface of class T from a Robot, both released at interpreter exit.
template <typename T>
std::shared_ptr<T> MakeFromRobot(vyr::Robot& robot) {
  return MakeLive<T>(LiveRobot(robot));
}

// `object`, or RuntimeError "[korvo::vyr::<name>] <name> was released at interpreter exit".
template <typename T>
T& Live(T& object, const char* name) {
  if (!LiveObjects<std::remove_const_t<T>>::Get().Alive(&object)) {
    throw std::runtime_error(std::string("[korvo::vyr::") + name + "] " + name +
                             " was released at interpreter exit");
  }
  return object;
}

// Binds operation `op` of class T (named `name` in messages) through a check of its object.
template <typename T, typename Ret, typename... Args>
auto LiveMethod(const char* name, Ret (T::*op)(Args...) const) {
  return [name, op](const T* self, Args... args) -> Ret {
    return (Live(*self, name).*op)(std::forward<Args>(args)...);
  };
}

template <typename T, typename Ret, typename... Args>
auto LiveMethod(const char* name, Ret (T::*op)(Args...)) {
  return [name, op](T* self, Args... args) -> Ret {
    return (Live(*self, name).*op)(std::forward<Args>(args)...);
  };
}

}  // namespace korvo::vyr_py
