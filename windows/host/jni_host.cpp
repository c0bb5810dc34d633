#include "jni_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

// Generated from the JDK's jni.h: kNativeSlotNames and kInvokeSlotNames,
// the names of the function-table slots in order.
#include "jni_slot_names.h"

namespace jni_host {
namespace {

// JNI guarantees a native this many local references of its own at once.
constexpr size_t kLocalCapacity = 16;

struct Class;

struct Object {
  explicit Object(Class* c) : cls(c) {}
  virtual ~Object() = default;
  Class* cls;
};

struct Field {
  std::string name;
  std::string signature;
};

struct Method {
  Class* owner;
  std::string name;
  std::string signature;
  bool is_static;
  StaticMethod run;
};

struct Class final : Object {
  Class(Class* meta, std::string n) : Object(meta), name(std::move(n)) {}
  std::string name;
  std::deque<Field> fields;
  std::deque<Method> methods;
};

struct String final : Object {
  String(Class* c, std::u16string t) : Object(c), text(std::move(t)) {}
  std::u16string text;
};

struct ByteArray final : Object {
  ByteArray(Class* c, size_t n) : Object(c), bytes(n) {}
  std::vector<jbyte> bytes;
};

struct Instance final : Object {
  using Object::Object;
  std::map<const Field*, jvalue> values;  // a reference field's jvalue holds an Object*
};

struct ThreadState;

// A reference as the natives hold it: every one is a handle of its own, so
// that one used after its deletion, or outside its frame or thread, shows.
struct Ref {
  enum Kind { kHost, kLocal, kGlobal };
  Object* object;
  Kind kind;
  ThreadState* owner;  // a local reference's thread
  bool live;
};

struct ThreadState {
  const JNINativeInterface_* functions;  // first, so that this is the JNIEnv
  bool attached = false;
  bool library_attached = false;  // by AttachCurrentThread(AsDaemon)
  struct Frame {
    std::vector<Ref*> refs;
    size_t own = 0;  // made in the frame, besides the native's arguments
    bool warned = false;
  };
  std::vector<Frame> frames;
  std::string pending;  // the pending exception; "" for none
};

struct HostVm {
  const JNIInvokeInterface_* functions;  // first, so that this is the JavaVM
};

std::mutex g_mutex;                          // guards what follows
std::deque<std::unique_ptr<Object>> g_heap;  // nothing is ever collected
std::deque<Ref> g_refs;
std::map<std::string, Class*> g_classes;
std::map<jbyte*, ByteArray*> g_elements;
std::vector<std::string> g_faults;

thread_local ThreadState t_thread;

const JNINativeInterface_* NativeTable();
HostVm* Vm();

void Fault(const std::string& what) {
  std::fprintf(stderr, "jni host: %s\n", what.c_str());
  std::lock_guard<std::mutex> hold(g_mutex);
  g_faults.push_back(what);
}

template <typename T, typename... A>
T* Make(A&&... args) {
  auto object = std::make_unique<T>(std::forward<A>(args)...);
  T* raw = object.get();
  std::lock_guard<std::mutex> hold(g_mutex);
  g_heap.push_back(std::move(object));
  return raw;
}

Ref* NewRef(Object* object, Ref::Kind kind) {
  std::lock_guard<std::mutex> hold(g_mutex);
  g_refs.push_back(Ref{object, kind, kind == Ref::kLocal ? &t_thread : nullptr, true});
  return &g_refs.back();
}

Class* Meta() {
  static Class* const meta = [] {
    std::lock_guard<std::mutex> hold(g_mutex);
    auto c = std::make_unique<Class>(nullptr, "java/lang/Class");
    c->cls = c.get();
    Class* raw = c.get();
    g_heap.push_back(std::move(c));
    g_classes[raw->name] = raw;
    for (const char* name : {"java/lang/Object", "java/lang/String", "[B"}) {
      auto other = std::make_unique<Class>(raw, name);
      g_classes[name] = other.get();
      g_heap.push_back(std::move(other));
    }
    return raw;
  }();
  return meta;
}

Class* ClassNamed(const std::string& name) {
  Meta();
  std::lock_guard<std::mutex> hold(g_mutex);
  auto it = g_classes.find(name);
  return it == g_classes.end() ? nullptr : it->second;
}

Object* Target(jobject handle) { return handle ? reinterpret_cast<Ref*>(handle)->object : nullptr; }

// --- UTF-8 and UTF-16, independent of the library's own conversion ---

std::u16string Utf16(const std::string& in) {
  std::u16string out;
  for (size_t i = 0; i < in.size();) {
    unsigned char c = in[i];
    int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || (extra > 0 && i + extra >= in.size())) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = cp << 6 | (static_cast<unsigned char>(in[i + k]) & 0x3F);
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf8(const std::u16string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// --- what every JNI function checks first ---

// The calling thread's state, after the checks every JNI function makes:
// the environment is this thread's own, and no exception is pending unless
// the function is one of those the JNI reference allows then.
ThreadState& Enter(JNIEnv* env, const char* function, bool allowed_when_pending = false) {
  ThreadState& t = t_thread;
  if (reinterpret_cast<ThreadState*>(env) != &t || !t.attached)
    Fault(std::string(function) + ": a JNIEnv of another thread, or of none");
  if (!allowed_when_pending && !t.pending.empty())
    Fault(std::string(function) + " called with an exception pending (" + t.pending + ")");
  return t;
}

// The object behind a reference a native passed: it must be live, and a
// local one must be this thread's. Null when it is not (a fault then).
Object* Live(ThreadState& t, jobject handle, const char* function) {
  if (!handle) return nullptr;
  Ref* ref = reinterpret_cast<Ref*>(handle);
  bool ok =
      ref->live && (ref->kind == Ref::kGlobal || (ref->kind == Ref::kLocal && ref->owner == &t));
  if (!ok) {
    Fault(std::string(function) + ": a reference that is not live here" +
          (ref->kind == Ref::kHost ? " (never given to the native)" : ""));
    return nullptr;
  }
  return ref->object;
}

template <typename T>
T* LiveAs(ThreadState& t, jobject handle, const char* function, const char* what) {
  Object* o = Live(t, handle, function);
  T* typed = dynamic_cast<T*>(o);
  if (o && !typed) Fault(std::string(function) + ": the reference is not " + what);
  return typed;
}

jobject Local(ThreadState& t, Object* object) {
  if (!object) return nullptr;
  if (t.frames.empty()) {
    Fault("a local reference made outside any frame");
    t.frames.emplace_back();
  }
  Ref* ref = NewRef(object, Ref::kLocal);
  ThreadState::Frame& frame = t.frames.back();
  frame.refs.push_back(ref);
  if (++frame.own > kLocalCapacity && !frame.warned) {
    frame.warned = true;
    Fault("more than 16 local references at once in one frame");
  }
  return reinterpret_cast<jobject>(ref);
}

void EndFrame(ThreadState::Frame& frame) {
  std::lock_guard<std::mutex> hold(g_mutex);
  for (Ref* ref : frame.refs) ref->live = false;
}

void Raise(ThreadState& t, const std::string& text) {
  if (t.pending.empty()) t.pending = text;
}

// The type descriptors of a method signature's parameters.
std::vector<std::string> ParameterTypes(const std::string& signature) {
  std::vector<std::string> types;
  for (size_t i = 1; i < signature.size() && signature[i] != ')';) {
    size_t start = i;
    while (signature[i] == '[') ++i;
    if (signature[i] == 'L') i = signature.find(';', i);
    ++i;
    types.push_back(signature.substr(start, i - start));
  }
  return types;
}

bool IsReference(const std::string& type) { return type[0] == 'L' || type[0] == '['; }

// A value of reference type `type`: null or an object of that class.
bool Fits(Object* object, const std::string& type) {
  if (!object || type == "Ljava/lang/Object;") return true;
  std::string name = type[0] == 'L' ? type.substr(1, type.size() - 2) : type;
  return object->cls->name == name;
}

std::vector<jvalue> ReadArguments(ThreadState& t, const Method& m, va_list args,
                                  const char* function) {
  std::vector<jvalue> values;
  for (const std::string& type : ParameterTypes(m.signature)) {
    jvalue v{};
    switch (type[0]) {
      case 'Z': v.z = static_cast<jboolean>(va_arg(args, int)); break;
      case 'B': v.b = static_cast<jbyte>(va_arg(args, int)); break;
      case 'C': v.c = static_cast<jchar>(va_arg(args, int)); break;
      case 'S': v.s = static_cast<jshort>(va_arg(args, int)); break;
      case 'I': v.i = va_arg(args, jint); break;
      case 'J': v.j = va_arg(args, jlong); break;
      case 'F': v.f = static_cast<jfloat>(va_arg(args, double)); break;
      case 'D': v.d = va_arg(args, double); break;
      default: {
        v.l = va_arg(args, jobject);
        Object* o = Live(t, v.l, function);
        if (v.l && o && !Fits(o, type))
          Fault(std::string(function) + ": " + m.name + " given a " + o->cls->name + " for " +
                type);
      }
    }
    values.push_back(v);
  }
  return values;
}

// --- the JNI functions the natives call ---

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
  Enter(env, "GetJavaVM");
  *vm = reinterpret_cast<JavaVM*>(Vm());
  return JNI_OK;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  ThreadState& t = Enter(env, "FindClass");
  Class* c = name ? ClassNamed(name) : nullptr;
  if (!c) {
    Raise(t, std::string("java/lang/NoClassDefFoundError: ") + (name ? name : "null"));
    return nullptr;
  }
  return static_cast<jclass>(Local(t, c));
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
  ThreadState& t = Enter(env, "GetObjectClass");
  Object* o = Live(t, obj, "GetObjectClass");
  if (!o) {
    Fault("GetObjectClass of null");
    return nullptr;
  }
  return static_cast<jclass>(Local(t, o->cls));
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass clazz) {
  ThreadState& t = Enter(env, "IsInstanceOf");
  Class* c = LiveAs<Class>(t, clazz, "IsInstanceOf", "a class");
  Object* o = Live(t, obj, "IsInstanceOf");
  if (!c) return JNI_FALSE;
  return !o || o->cls == c || c->name == "java/lang/Object" ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
  ThreadState& t = Enter(env, "NewLocalRef");
  return Local(t, Live(t, ref, "NewLocalRef"));
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
  ThreadState& t = Enter(env, "DeleteLocalRef", true);
  if (!ref) return;
  Ref* r = reinterpret_cast<Ref*>(ref);
  if (r->kind != Ref::kLocal || r->owner != &t || !r->live) {
    Fault("DeleteLocalRef of a reference that is not a live local one of this thread");
    return;
  }
  std::lock_guard<std::mutex> hold(g_mutex);
  r->live = false;
  for (auto& frame : t.frames) {
    for (size_t i = 0; i < frame.refs.size(); ++i) {
      if (frame.refs[i] != r) continue;
      frame.refs.erase(frame.refs.begin() + static_cast<long>(i));
      if (frame.own > 0 && &frame == &t.frames.back()) --frame.own;
      return;
    }
  }
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
  ThreadState& t = Enter(env, "NewGlobalRef");
  Object* o = Live(t, ref, "NewGlobalRef");
  return o ? reinterpret_cast<jobject>(NewRef(o, Ref::kGlobal)) : nullptr;
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
  Enter(env, "DeleteGlobalRef", true);
  if (!ref) return;
  Ref* r = reinterpret_cast<Ref*>(ref);
  std::lock_guard<std::mutex> hold(g_mutex);
  if (r->kind != Ref::kGlobal || !r->live) {
    g_faults.push_back("DeleteGlobalRef of a reference that is not a live global one");
    std::fprintf(stderr, "jni host: %s\n", g_faults.back().c_str());
    return;
  }
  r->live = false;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
  ThreadState& t = Enter(env, "ExceptionCheck", true);
  return t.pending.empty() ? JNI_FALSE : JNI_TRUE;
}

void JNICALL ExceptionClear(JNIEnv* env) { Enter(env, "ExceptionClear", true).pending.clear(); }

const Method* FindMethod(Class* c, const char* name, const char* sig, bool is_static) {
  if (!c || !name || !sig) return nullptr;
  std::lock_guard<std::mutex> hold(g_mutex);
  for (const Method& m : c->methods)
    if (m.is_static == is_static && m.name == name && m.signature == sig) return &m;
  return nullptr;
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  ThreadState& t = Enter(env, "GetStaticMethodID");
  const Method* m =
      FindMethod(LiveAs<Class>(t, clazz, "GetStaticMethodID", "a class"), name, sig, true);
  if (!m) Raise(t, std::string("java/lang/NoSuchMethodError: ") + (name ? name : "null"));
  return reinterpret_cast<jmethodID>(const_cast<Method*>(m));
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  ThreadState& t = Enter(env, "GetMethodID");
  const Method* m = FindMethod(LiveAs<Class>(t, clazz, "GetMethodID", "a class"), name, sig, false);
  if (!m) Raise(t, std::string("java/lang/NoSuchMethodError: ") + (name ? name : "null"));
  return reinterpret_cast<jmethodID>(const_cast<Method*>(m));
}

// C++ callers reach the V forms: jni.h's inline wrappers pass the va_list.
jint JNICALL CallStaticIntMethodV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
  ThreadState& t = Enter(env, "CallStaticIntMethod");
  Class* c = LiveAs<Class>(t, clazz, "CallStaticIntMethod", "a class");
  const Method* m = reinterpret_cast<const Method*>(id);
  if (!c || !m || !m->is_static || m->owner != c ||
      m->signature.substr(m->signature.find(')')) != ")I") {
    Fault("CallStaticIntMethod: not a static int method of that class");
    return 0;
  }
  return m->run(ReadArguments(t, *m, args, "CallStaticIntMethod"));
}

jint JNICALL CallStaticIntMethod(JNIEnv* env, jclass clazz, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jint result = CallStaticIntMethodV(env, clazz, id, args);
  va_end(args);
  return result;
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass clazz, jmethodID id, va_list) {
  ThreadState& t = Enter(env, "NewObject");
  Class* c = LiveAs<Class>(t, clazz, "NewObject", "a class");
  const Method* m = reinterpret_cast<const Method*>(id);
  if (!c || !m || m->owner != c || m->name != "<init>" || m->signature != "()V") {
    Fault("NewObject: not the constructor () of that class");
    return nullptr;
  }
  return Local(t, Make<Instance>(c));
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jobject object = NewObjectV(env, clazz, id, args);
  va_end(args);
  return object;
}

const Field* FieldOf(Class* c, const char* name, const char* sig) {
  if (!c || !name || !sig) return nullptr;
  std::lock_guard<std::mutex> hold(g_mutex);
  for (const Field& f : c->fields)
    if (f.name == name && f.signature == sig) return &f;
  return nullptr;
}

jfieldID JNICALL GetFieldID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
  ThreadState& t = Enter(env, "GetFieldID");
  const Field* f = FieldOf(LiveAs<Class>(t, clazz, "GetFieldID", "a class"), name, sig);
  if (!f) Raise(t, std::string("java/lang/NoSuchFieldError: ") + (name ? name : "null"));
  return reinterpret_cast<jfieldID>(const_cast<Field*>(f));
}

// The instance whose field `id` (of type `type`) a native sets.
Instance* FieldTarget(JNIEnv* env, jobject obj, jfieldID id, const char* function, char type) {
  ThreadState& t = Enter(env, function);
  Instance* o = LiveAs<Instance>(t, obj, function, "an object with fields");
  const Field* f = reinterpret_cast<const Field*>(id);
  bool owned = false;
  if (o && f) {
    std::lock_guard<std::mutex> hold(g_mutex);
    for (const Field& own : o->cls->fields) owned = owned || &own == f;
  }
  if (!o || !owned || (type == 'L' ? !IsReference(f->signature) : f->signature[0] != type)) {
    Fault(std::string(function) + ": not a field of that type of that object");
    return nullptr;
  }
  return o;
}

void JNICALL SetIntField(JNIEnv* env, jobject obj, jfieldID id, jint value) {
  if (Instance* o = FieldTarget(env, obj, id, "SetIntField", 'I')) {
    std::lock_guard<std::mutex> hold(g_mutex);
    o->values[reinterpret_cast<const Field*>(id)].i = value;
  }
}

void JNICALL SetBooleanField(JNIEnv* env, jobject obj, jfieldID id, jboolean value) {
  if (Instance* o = FieldTarget(env, obj, id, "SetBooleanField", 'Z')) {
    std::lock_guard<std::mutex> hold(g_mutex);
    o->values[reinterpret_cast<const Field*>(id)].z = value;
  }
}

void JNICALL SetObjectField(JNIEnv* env, jobject obj, jfieldID id, jobject value) {
  Instance* o = FieldTarget(env, obj, id, "SetObjectField", 'L');
  if (!o) return;
  const Field* f = reinterpret_cast<const Field*>(id);
  Object* v = Live(t_thread, value, "SetObjectField");
  if (v && !Fits(v, f->signature))
    Fault("SetObjectField: a " + v->cls->name + " for " + f->signature);
  std::lock_guard<std::mutex> hold(g_mutex);
  o->values[f].l = reinterpret_cast<jobject>(v);
}

jstring JNICALL NewString(JNIEnv* env, const jchar* unicode, jsize len) {
  ThreadState& t = Enter(env, "NewString");
  if (len < 0 || (len > 0 && !unicode)) {
    Fault("NewString: a negative length or no characters");
    return nullptr;
  }
  std::u16string text(reinterpret_cast<const char16_t*>(unicode), static_cast<size_t>(len));
  return static_cast<jstring>(
      Local(t, Make<String>(ClassNamed("java/lang/String"), std::move(text))));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
  ThreadState& t = Enter(env, "GetStringLength");
  String* s = LiveAs<String>(t, str, "GetStringLength", "a string");
  return s ? static_cast<jsize>(s->text.size()) : 0;
}

void JNICALL GetStringRegion(JNIEnv* env, jstring str, jsize start, jsize len, jchar* buf) {
  ThreadState& t = Enter(env, "GetStringRegion");
  String* s = LiveAs<String>(t, str, "GetStringRegion", "a string");
  if (!s) return;
  if (start < 0 || len < 0 || static_cast<size_t>(start) + len > s->text.size()) {
    Raise(t, "java/lang/StringIndexOutOfBoundsException");
    return;
  }
  std::memcpy(buf, s->text.data() + start, static_cast<size_t>(len) * sizeof(jchar));
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
  ThreadState& t = Enter(env, "GetArrayLength");
  ByteArray* a = LiveAs<ByteArray>(t, array, "GetArrayLength", "an array");
  return a ? static_cast<jsize>(a->bytes.size()) : 0;
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize len) {
  ThreadState& t = Enter(env, "NewByteArray");
  if (len < 0) {
    Raise(t, "java/lang/NegativeArraySizeException");
    return nullptr;
  }
  return static_cast<jbyteArray>(
      Local(t, Make<ByteArray>(ClassNamed("[B"), static_cast<size_t>(len))));
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len,
                                const jbyte* buf) {
  ThreadState& t = Enter(env, "SetByteArrayRegion");
  ByteArray* a = LiveAs<ByteArray>(t, array, "SetByteArrayRegion", "a byte array");
  if (!a) return;
  if (start < 0 || len < 0 || static_cast<size_t>(start) + len > a->bytes.size()) {
    Raise(t, "java/lang/ArrayIndexOutOfBoundsException");
    return;
  }
  std::memcpy(a->bytes.data() + start, buf, static_cast<size_t>(len));
}

jbyte* JNICALL GetByteArrayElements(JNIEnv* env, jbyteArray array, jboolean* is_copy) {
  ThreadState& t = Enter(env, "GetByteArrayElements");
  ByteArray* a = LiveAs<ByteArray>(t, array, "GetByteArrayElements", "a byte array");
  if (!a) return nullptr;
  // Always a copy, so that a native writing past the elements or keeping
  // them after the release is not saved by the array itself.
  jbyte* copy = static_cast<jbyte*>(std::malloc(a->bytes.size() + 1));
  std::memcpy(copy, a->bytes.data(), a->bytes.size());
  if (is_copy) *is_copy = JNI_TRUE;
  std::lock_guard<std::mutex> hold(g_mutex);
  g_elements[copy] = a;
  return copy;
}

void JNICALL ReleaseByteArrayElements(JNIEnv* env, jbyteArray array, jbyte* elems, jint mode) {
  ThreadState& t = Enter(env, "ReleaseByteArrayElements", true);
  ByteArray* a = LiveAs<ByteArray>(t, array, "ReleaseByteArrayElements", "a byte array");
  std::lock_guard<std::mutex> hold(g_mutex);
  auto it = g_elements.find(elems);
  if (!a || it == g_elements.end() || it->second != a) {
    g_faults.push_back("ReleaseByteArrayElements of elements not taken from that array");
    std::fprintf(stderr, "jni host: %s\n", g_faults.back().c_str());
    return;
  }
  if (mode == 0 || mode == JNI_COMMIT) std::memcpy(a->bytes.data(), elems, a->bytes.size());
  if (mode == JNI_COMMIT) return;
  g_elements.erase(it);
  std::free(elems);
}

// --- the invocation interface ---

jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
  if (version < JNI_VERSION_1_1 || version > JNI_VERSION_1_8) {
    *penv = nullptr;
    return JNI_EVERSION;
  }
  *penv = t_thread.attached ? &t_thread : nullptr;
  return t_thread.attached ? JNI_OK : JNI_EDETACHED;
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM*, void** penv, void*) {
  ThreadState& t = t_thread;
  if (!t.attached) {
    t.functions = NativeTable();
    t.attached = true;
    t.library_attached = true;
    t.frames.emplace_back();
  }
  *penv = &t;
  return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM*) {
  ThreadState& t = t_thread;
  if (!t.attached) return JNI_EDETACHED;
  if (!t.library_attached) {
    Fault("DetachCurrentThread on a thread with Java frames");
    return JNI_ERR;
  }
  for (auto& frame : t.frames) EndFrame(frame);
  t.frames.clear();
  t.attached = false;
  t.library_attached = false;
  return JNI_OK;
}

// --- the tables ---

[[noreturn]] void Unimplemented(const char* table, const char* slot) {
  std::fprintf(stderr, "jni host: %s function %s is not implemented\n", table, slot);
  std::fflush(stderr);
  std::_Exit(3);
}

// A slot's stub never returns, so its calling convention cannot matter.
template <size_t N>
void JNICALL NativeStub() {
  Unimplemented("JNIEnv", kNativeSlotNames[N]);
}

template <size_t N>
void JNICALL InvokeStub() {
  Unimplemented("JavaVM", kInvokeSlotNames[N]);
}

template <size_t... I>
void FillNative(void** slots, std::index_sequence<I...>) {
  ((slots[I] = reinterpret_cast<void*>(&NativeStub<I>)), ...);
}

template <size_t... I>
void FillInvoke(void** slots, std::index_sequence<I...>) {
  ((slots[I] = reinterpret_cast<void*>(&InvokeStub<I>)), ...);
}

constexpr size_t kNativeSlots = sizeof(kNativeSlotNames) / sizeof(kNativeSlotNames[0]);
constexpr size_t kInvokeSlots = sizeof(kInvokeSlotNames) / sizeof(kInvokeSlotNames[0]);
static_assert(kNativeSlots * sizeof(void*) == sizeof(JNINativeInterface_),
              "one name per slot of JNIEnv's table");
static_assert(kInvokeSlots * sizeof(void*) == sizeof(JNIInvokeInterface_),
              "one name per slot of JavaVM's table");

const JNINativeInterface_* NativeTable() {
  static const JNINativeInterface_ table = [] {
    void* slots[kNativeSlots];
    FillNative(slots, std::make_index_sequence<kNativeSlots>());
    JNINativeInterface_ t;
    std::memcpy(&t, slots, sizeof t);
    t.GetJavaVM = GetJavaVM;
    t.FindClass = FindClass;
    t.GetObjectClass = GetObjectClass;
    t.IsInstanceOf = IsInstanceOf;
    t.NewLocalRef = NewLocalRef;
    t.DeleteLocalRef = DeleteLocalRef;
    t.NewGlobalRef = NewGlobalRef;
    t.DeleteGlobalRef = DeleteGlobalRef;
    t.ExceptionCheck = ExceptionCheck;
    t.ExceptionClear = ExceptionClear;
    t.GetStaticMethodID = GetStaticMethodID;
    t.GetMethodID = GetMethodID;
    t.CallStaticIntMethod = CallStaticIntMethod;
    t.CallStaticIntMethodV = CallStaticIntMethodV;
    t.NewObject = NewObject;
    t.NewObjectV = NewObjectV;
    t.GetFieldID = GetFieldID;
    t.SetIntField = SetIntField;
    t.SetBooleanField = SetBooleanField;
    t.SetObjectField = SetObjectField;
    t.NewString = NewString;
    t.GetStringLength = GetStringLength;
    t.GetStringRegion = GetStringRegion;
    t.GetArrayLength = GetArrayLength;
    t.NewByteArray = NewByteArray;
    t.SetByteArrayRegion = SetByteArrayRegion;
    t.GetByteArrayElements = GetByteArrayElements;
    t.ReleaseByteArrayElements = ReleaseByteArrayElements;
    return t;
  }();
  return &table;
}

HostVm* Vm() {
  static const JNIInvokeInterface_ table = [] {
    void* slots[kInvokeSlots];
    FillInvoke(slots, std::make_index_sequence<kInvokeSlots>());
    JNIInvokeInterface_ t;
    std::memcpy(&t, slots, sizeof t);
    t.GetEnv = GetEnv;
    t.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
    t.DetachCurrentThread = DetachCurrentThread;
    return t;
  }();
  static HostVm vm{&table};
  return &vm;
}

jobject HostRef(Object* object) {
  return object ? reinterpret_cast<jobject>(NewRef(object, Ref::kHost)) : nullptr;
}

const Field* FieldNamed(Object* object, const std::string& name) {
  std::lock_guard<std::mutex> hold(g_mutex);
  for (const Field& f : object->cls->fields)
    if (f.name == name) return &f;
  return nullptr;
}

jvalue FieldValue(jobject object, const std::string& name) {
  Instance* o = dynamic_cast<Instance*>(Target(object));
  const Field* f = o ? FieldNamed(o, name) : nullptr;
  if (!f) {
    Fault("the host read a field that is not there: " + name);
    return jvalue{};
  }
  std::lock_guard<std::mutex> hold(g_mutex);
  auto it = o->values.find(f);
  return it == o->values.end() ? jvalue{} : it->second;
}

}  // namespace

void DefineClass(const ClassSpec& shape) {
  Class* meta = Meta();
  Class* c = Make<Class>(meta, shape.name);
  for (const auto& field : shape.fields) c->fields.push_back(Field{field.first, field.second});
  if (shape.constructible) c->methods.push_back(Method{c, "<init>", "()V", false, nullptr});
  for (const StaticSpec& s : shape.statics)
    c->methods.push_back(Method{c, s.name, s.signature, true, s.run});
  std::lock_guard<std::mutex> hold(g_mutex);
  g_classes[shape.name] = c;
}

JNIEnv* ThreadEnv() {
  ThreadState& t = t_thread;
  if (!t.attached) {
    t.functions = NativeTable();
    t.attached = true;
  }
  return reinterpret_cast<JNIEnv*>(&t);
}

NativeFrame::NativeFrame() {
  ThreadEnv();
  t_thread.frames.emplace_back();
}

jobject NativeFrame::PassReference(jobject handle) {
  Object* object = Target(handle);
  if (!object) return nullptr;
  Ref* ref = NewRef(object, Ref::kLocal);
  t_thread.frames.back().refs.push_back(ref);
  return reinterpret_cast<jobject>(ref);
}

NativeFrame::~NativeFrame() {
  ThreadState& t = t_thread;
  if (!t.pending.empty()) Fault("a native returned with an exception pending (" + t.pending + ")");
  t.pending.clear();
  EndFrame(t.frames.back());
  t.frames.pop_back();
}

jobject NewInstance(const std::string& class_name) {
  Class* c = ClassNamed(class_name);
  if (!c) Fault("no class " + class_name);
  return c ? HostRef(Make<Instance>(c)) : nullptr;
}

jclass FindClassObject(const std::string& name) {
  return static_cast<jclass>(HostRef(ClassNamed(name)));
}

jstring NewJavaString(const std::string& utf8) {
  return static_cast<jstring>(HostRef(Make<String>(ClassNamed("java/lang/String"), Utf16(utf8))));
}

jbyteArray NewJavaBytes(const std::string& bytes) {
  ByteArray* a = Make<ByteArray>(ClassNamed("[B"), bytes.size());
  std::memcpy(a->bytes.data(), bytes.data(), bytes.size());
  return static_cast<jbyteArray>(HostRef(a));
}

std::string StringText(jstring text) {
  String* s = dynamic_cast<String*>(Target(text));
  return s ? Utf8(s->text) : "<null>";
}

std::string ArrayBytes(jbyteArray array) {
  ByteArray* a = dynamic_cast<ByteArray*>(Target(array));
  return a ? std::string(reinterpret_cast<const char*>(a->bytes.data()), a->bytes.size()) : "";
}

jint IntField(jobject object, const std::string& name) { return FieldValue(object, name).i; }

bool BooleanField(jobject object, const std::string& name) {
  return FieldValue(object, name).z != JNI_FALSE;
}

jobject ObjectField(jobject object, const std::string& name) {
  return HostRef(reinterpret_cast<Object*>(FieldValue(object, name).l));
}

void Throw(const std::string& text) { Raise(t_thread, text); }

std::vector<std::string> Faults() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_faults;
}

size_t GlobalReferences() {
  std::lock_guard<std::mutex> hold(g_mutex);
  size_t n = 0;
  for (const Ref& r : g_refs) n += r.kind == Ref::kGlobal && r.live;
  return n;
}

size_t UnreleasedElements() {
  std::lock_guard<std::mutex> hold(g_mutex);
  return g_elements.size();
}

}  // namespace jni_host
