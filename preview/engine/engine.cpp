// The 3D engine component: a small scene of numbered objects drawn with OpenGL through libepoxy.
// It needs a GL 2.1 (or later compatibility) context, which is what Qt makes by default.
#include "engine_api.h"
#include "pano_mesh.h"
#include "texture_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <dlfcn.h>
#include <epoxy/gl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <string>
#include <vector>

namespace vantaro {

namespace {
// Handles carry the object's kind and number, so a stale handle can never reach freed memory.
enum class Kind : std::uintptr_t { Mesh = 1, Texture, Material, Entity, Camera, Node };
constexpr int kKindShift = 24;
constexpr int kMaxNumber = (1 << kKindShift) - 2;

constexpr float kNearPlane = 0.1f;
constexpr float kFarPlane = 1000.0f;

struct Mesh {
    GLuint vertexBuffer = 0;
    GLuint indexBuffer = 0;
    GLsizei indexCount = 0;
};

struct Texture {
    GLuint name = 0;
};

enum FilterMode { kFilterNearest = 0, kFilterBilinear = 1, kFilterTrilinear = 2, kFilterAnisotropic = 3 };

struct Material {
    int texture = -1;
    bool depthWrite = true;
    int filterMode = kFilterTrilinear;
    int filterLevel = 1;
};

struct Entity {
    int mesh = -1;
    int material = -1;
    float position[3] = {};
};

struct Camera {
    float viewport[4] = { 0, 0, 100, 100 }; // x, y from the top left, width, height in percent
    float fov = 90.0f;
    int node = -1;
};

struct Quaternion {
    float w = 1, x = 0, y = 0, z = 0;
};

struct Node {
    float position[3] = {};
    Quaternion orientation;
};

// Column-major, as GL takes it.
struct Matrix {
    float m[16] = {};
};

struct EngineState {
    bool started = false;
    std::vector<std::string> folders;
    std::map<int, Mesh> meshes;
    std::map<int, Texture> textures;
    std::map<int, Material> materials;
    std::map<int, Entity> entities;
    std::map<int, Camera> cameras;
    std::map<int, Node> nodes;
    int activeCamera = -1;
    GLuint program = 0;
    GLuint vertexArray = 0;
    GLint positionAttribute = -1;
    GLint texCoordAttribute = -1;
    GLint transformUniform = -1;
    GLint pictureUniform = -1;
    float maxAnisotropy = 1.0f;
};

EngineState& State() {
    static EngineState state;
    return state;
}

bool ValidNumber(int number) {
    return number >= 0 && number <= kMaxNumber;
}

EngineHandle MakeHandle(Kind kind, int number) {
    const std::uintptr_t value = std::uintptr_t(kind) << kKindShift | std::uintptr_t(number + 1);
    return reinterpret_cast<EngineHandle>(value);
}

// The object number behind a handle of that kind; -1 when the handle is of another kind or null.
int HandleNumber(EngineHandle handle, Kind kind) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value >> kKindShift != std::uintptr_t(kind))
        return -1;
    return int(value & ((std::uintptr_t(1) << kKindShift) - 1)) - 1;
}

template <typename T> T* Find(std::map<int, T>& objects, int number) {
    const auto found = objects.find(number);
    return found == objects.end() ? nullptr : &found->second;
}

// --- files

bool IsFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// A bare name is looked for in the registered folders, in order; a name with a folder is taken as it is.
std::string ResolveFile(const char* name) {
    if (name == nullptr || *name == '\0')
        return "";
    const std::string fileName(name);
    if (fileName.find('/') != std::string::npos)
        return IsRegularFile(fileName) ? fileName : "";
    for (const std::string& folder : State().folders) {
        const std::string path = folder.back() == '/' ? folder + fileName : folder + '/' + fileName;
        if (IsRegularFile(path))
            return path;
    }
    return "";
}

bool ReadWholeFile(const std::string& path, std::size_t maxSize, std::vector<unsigned char>& bytes) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > maxSize)
        return false;
    std::ifstream in(path, std::ios::binary);
    bytes.resize(size);
    return in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size))
        && in.gcount() == std::streamsize(size);
}

// --- GL objects

void DeleteMesh(Mesh& mesh) {
    glDeleteBuffers(1, &mesh.vertexBuffer);
    glDeleteBuffers(1, &mesh.indexBuffer);
}

void DeleteTexture(Texture& texture) {
    glDeleteTextures(1, &texture.name);
}

bool HoldsGlObjects() {
    const EngineState& state = State();
    return !state.meshes.empty() || !state.textures.empty() || state.program != 0 || state.vertexArray != 0;
}

void DeleteGlObjects() {
    EngineState& state = State();
    for (auto& [number, mesh] : state.meshes)
        DeleteMesh(mesh);
    for (auto& [number, texture] : state.textures)
        DeleteTexture(texture);
    state.meshes.clear();
    state.textures.clear();
    if (state.program != 0)
        glDeleteProgram(state.program);
    if (state.vertexArray != 0)
        glDeleteVertexArrays(1, &state.vertexArray);
    state.program = 0;
    state.vertexArray = 0;
}

// Calling GL through libepoxy with no current context ends the process, so Shutdown asks first.
bool GlContextIsCurrent() {
    const char* const libraries[][2] = { { "libGLX.so.0", "glXGetCurrentContext" },
        { "libGL.so.1", "glXGetCurrentContext" }, { "libEGL.so.1", "eglGetCurrentContext" } };
    for (const auto& [library, function] : libraries) {
        void* handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
        if (handle == nullptr)
            continue;
        const auto current = reinterpret_cast<void* (*)()>(dlsym(handle, function));
        const bool isCurrent = current != nullptr && current() != nullptr;
        dlclose(handle);
        if (isCurrent)
            return true;
    }
    return false;
}

float MaxAnisotropy() {
    if (epoxy_gl_version() < 46 && !epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic")
        && !epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic"))
        return 1.0f;
    GLfloat most = 1.0f;
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &most);
    return most;
}

GLuint CompileShader(GLenum type, const char* source) {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Solid, unlit, textured: the picture shows the texture's own colours.
bool EnsureProgram() {
    EngineState& state = State();
    if (state.program != 0)
        return true;
    // v runs down the image, as the texture's rows do: its first row is the image's top.
    const char* vertexSource = "#version 120\n"
                               "attribute vec3 position;\n"
                               "attribute vec2 texCoord;\n"
                               "uniform mat4 transform;\n"
                               "varying vec2 uv;\n"
                               "void main() {\n"
                               "    uv = texCoord;\n"
                               "    gl_Position = transform * vec4(position, 1.0);\n"
                               "}\n";
    const char* fragmentSource = "#version 120\n"
                                 "uniform sampler2D picture;\n"
                                 "varying vec2 uv;\n"
                                 "void main() { gl_FragColor = vec4(texture2D(picture, uv).rgb, 1.0); }\n";
    const GLuint vertexShader = CompileShader(GL_VERTEX_SHADER, vertexSource);
    const GLuint fragmentShader = CompileShader(GL_FRAGMENT_SHADER, fragmentSource);
    if (vertexShader == 0 || fragmentShader == 0) {
        glDeleteShader(vertexShader);
        glDeleteShader(fragmentShader);
        return false;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    glLinkProgram(program);
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        glDeleteProgram(program);
        return false;
    }
    state.program = program;
    state.positionAttribute = glGetAttribLocation(program, "position");
    state.texCoordAttribute = glGetAttribLocation(program, "texCoord");
    state.transformUniform = glGetUniformLocation(program, "transform");
    state.pictureUniform = glGetUniformLocation(program, "picture");
    // A core profile draws nothing without a vertex array object; a compatibility one does not mind it.
    if (epoxy_gl_version() >= 30)
        glGenVertexArrays(1, &state.vertexArray);
    state.maxAnisotropy = MaxAnisotropy();
    return true;
}

// --- geometry

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix result;
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.m[k * 4 + row] * b.m[column * 4 + k];
            result.m[column * 4 + row] = sum;
        }
    }
    return result;
}

Matrix Translation(const float (&offset)[3]) {
    Matrix result;
    result.m[0] = result.m[5] = result.m[10] = result.m[15] = 1;
    result.m[12] = offset[0];
    result.m[13] = offset[1];
    result.m[14] = offset[2];
    return result;
}

Matrix Perspective(float verticalFovDegrees, float aspect) {
    const float f = 1.0f / std::tan(verticalFovDegrees * float(std::numbers::pi) / 360.0f);
    Matrix result;
    result.m[0] = f / aspect;
    result.m[5] = f;
    result.m[10] = (kFarPlane + kNearPlane) / (kNearPlane - kFarPlane);
    result.m[11] = -1;
    result.m[14] = 2 * kFarPlane * kNearPlane / (kNearPlane - kFarPlane);
    return result;
}

Quaternion Product(const Quaternion& a, const Quaternion& b) {
    return { a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
        a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w };
}

Quaternion AxisTurn(float degrees, float x, float y, float z) {
    const float half = degrees * float(std::numbers::pi) / 360.0f;
    const float s = std::sin(half);
    return { std::cos(half), x * s, y * s, z * s };
}

// Yaw about Y, then pitch about the turned X, then roll about the turned Z.
Quaternion FromAngles(float pitch, float yaw, float roll) {
    return Product(Product(AxisTurn(yaw, 0, 1, 0), AxisTurn(pitch, 1, 0, 0)), AxisTurn(roll, 0, 0, 1));
}

Quaternion Normalized(const Quaternion& q) {
    const float length = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (!(length > 0))
        return {};
    return { q.w / length, q.x / length, q.y / length, q.z / length };
}

// The world as seen from a node: the inverse of its turn and place.
Matrix ViewFrom(const Node& node) {
    const Quaternion& q = node.orientation;
    // Rows of the inverse rotation are the columns of the node's rotation.
    const float r[3][3] = {
        { 1 - 2 * (q.y * q.y + q.z * q.z), 2 * (q.x * q.y + q.w * q.z), 2 * (q.x * q.z - q.w * q.y) },
        { 2 * (q.x * q.y - q.w * q.z), 1 - 2 * (q.x * q.x + q.z * q.z), 2 * (q.y * q.z + q.w * q.x) },
        { 2 * (q.x * q.z + q.w * q.y), 2 * (q.y * q.z - q.w * q.x), 1 - 2 * (q.x * q.x + q.y * q.y) },
    };
    Matrix view;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            view.m[column * 4 + row] = r[row][column];
        view.m[12 + row]
            = -(r[row][0] * node.position[0] + r[row][1] * node.position[1] + r[row][2] * node.position[2]);
    }
    view.m[15] = 1;
    return view;
}

void ApplyFiltering(const Material& material) {
    GLint minFilter = GL_LINEAR;
    GLint magFilter = GL_LINEAR;
    float anisotropy = 1.0f;
    switch (material.filterMode) {
    case kFilterNearest:
        minFilter = magFilter = GL_NEAREST;
        break;
    case kFilterBilinear:
        break;
    case kFilterAnisotropic:
        anisotropy = float(std::max(material.filterLevel, 1));
        [[fallthrough]];
    default:
        minFilter = GL_LINEAR_MIPMAP_LINEAR;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
    const float most = State().maxAnisotropy;
    if (most > 1.0f)
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, std::min(anisotropy, most));
}

void DrawEntity(const Entity& entity, const Matrix& viewProjection) {
    EngineState& state = State();
    const Mesh* mesh = Find(state.meshes, entity.mesh);
    const Material* material = Find(state.materials, entity.material);
    const Texture* texture = material ? Find(state.textures, material->texture) : nullptr;
    if (mesh == nullptr || texture == nullptr)
        return;
    const Matrix transform = Multiply(viewProjection, Translation(entity.position));
    glUniformMatrix4fv(state.transformUniform, 1, GL_FALSE, transform.m);
    glBindTexture(GL_TEXTURE_2D, texture->name);
    ApplyFiltering(*material);
    glDepthMask(material->depthWrite ? GL_TRUE : GL_FALSE);
    glBindBuffer(GL_ARRAY_BUFFER, mesh->vertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh->indexBuffer);
    const GLsizei stride = sizeof(MeshVertex);
    glEnableVertexAttribArray(GLuint(state.positionAttribute));
    glVertexAttribPointer(GLuint(state.positionAttribute), 3, GL_FLOAT, GL_FALSE, stride, nullptr);
    glEnableVertexAttribArray(GLuint(state.texCoordAttribute));
    glVertexAttribPointer(GLuint(state.texCoordAttribute), 2, GL_FLOAT, GL_FALSE, stride,
        reinterpret_cast<const void*>(3 * sizeof(float)));
    glDrawElements(GL_TRIANGLES, mesh->indexCount, GL_UNSIGNED_INT, nullptr);
    glDisableVertexAttribArray(GLuint(state.positionAttribute));
    glDisableVertexAttribArray(GLuint(state.texCoordAttribute));
}

// --- the operations

int Init() {
    State().started = true;
    return 1;
}

void ReleaseScene() {
    EngineState& state = State();
    if (HoldsGlObjects())
        DeleteGlObjects();
    state.materials.clear();
    state.entities.clear();
    state.cameras.clear();
    state.nodes.clear();
    state.activeCamera = -1;
}

void Shutdown() {
    EngineState& state = State();
    // Without a context the GL names die with the context that made them.
    if (HoldsGlObjects() && !GlContextIsCurrent()) {
        state.meshes.clear();
        state.textures.clear();
        state.program = 0;
        state.vertexArray = 0;
    }
    ReleaseScene();
    state.folders.clear();
    state.started = false;
}

int AddResourceFolder(const char* folder, int kind) {
    EngineState& state = State();
    if (!state.started || kind != 0 || folder == nullptr || !IsFolder(folder))
        return 0;
    for (const std::string& known : state.folders) {
        if (known == folder)
            return 1;
    }
    state.folders.emplace_back(folder);
    return 1;
}

int LoadMesh(int number, const char* fileName) {
    EngineState& state = State();
    if (!state.started || !ValidNumber(number))
        return 0;
    // A failed load still replaces: nothing of an earlier mesh under this number may show.
    if (Mesh* old = Find(state.meshes, number)) {
        DeleteMesh(*old);
        state.meshes.erase(number);
    }
    const std::string path = ResolveFile(fileName);
    const std::size_t maxSize = 16 + std::size_t(kMaxMeshVertices) * sizeof(MeshVertex) + kMaxMeshIndices * 4;
    std::vector<unsigned char> bytes;
    if (path.empty() || !ReadWholeFile(path, maxSize, bytes))
        return 0;
    const MeshDecodeResult decoded = DecodeMesh(bytes.data(), bytes.size());
    if (!decoded.ok)
        return 0;
    Mesh mesh;
    glGenBuffers(1, &mesh.vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(decoded.mesh.vertices.size() * sizeof(MeshVertex)),
        decoded.mesh.vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glGenBuffers(1, &mesh.indexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(decoded.mesh.indices.size() * sizeof(std::uint32_t)),
        decoded.mesh.indices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    mesh.indexCount = GLsizei(decoded.mesh.indices.size());
    state.meshes[number] = mesh;
    return 1;
}

int LoadTexture(int number, const char* fileName) {
    EngineState& state = State();
    if (!state.started || !ValidNumber(number))
        return 0;
    if (Texture* old = Find(state.textures, number)) {
        DeleteTexture(*old);
        state.textures.erase(number);
    }
    const std::string path = ResolveFile(fileName);
    if (path.empty())
        return 0;
    Texture texture;
    glGetError();
    glGenTextures(1, &texture.name);
    glBindTexture(GL_TEXTURE_2D, texture.name);
    // Across the seam the image continues from its other edge; at the poles it does not.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const bool filled = FillTextureFromFile(path, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (!filled || glGetError() != GL_NO_ERROR) {
        DeleteTexture(texture);
        return 0;
    }
    state.textures[number] = texture;
    return 1;
}

EngineHandle TextureHandle(int number) {
    return Find(State().textures, number) ? MakeHandle(Kind::Texture, number) : nullptr;
}

int CreateMaterial(int number, EngineHandle texture) {
    EngineState& state = State();
    const int textureNumber = HandleNumber(texture, Kind::Texture);
    if (!state.started || !ValidNumber(number) || textureNumber < 0)
        return 0;
    Material material;
    material.texture = textureNumber;
    state.materials[number] = material;
    return 1;
}

// The world has no lights, so every material already shows its texture's own colours.
void DisableMaterialLighting(int, int) { }

void SetMaterialDepthWrite(int number, int enable) {
    if (Material* material = Find(State().materials, number))
        material->depthWrite = enable != 0;
}

void SetMaterialFiltering(int number, int mode, int level) {
    Material* material = Find(State().materials, number);
    if (material == nullptr || mode < kFilterNearest || mode > kFilterAnisotropic)
        return;
    material->filterMode = mode;
    material->filterLevel = level;
}

// Code 36, solid, unlit and textured, is the one way this engine draws.
void SetMaterialShading(int, int) { }

EngineHandle MaterialHandle(int number) {
    return Find(State().materials, number) ? MakeHandle(Kind::Material, number) : nullptr;
}

EngineHandle MeshHandle(int number) {
    return Find(State().meshes, number) ? MakeHandle(Kind::Mesh, number) : nullptr;
}

int CreateEntity(int number, EngineHandle mesh, EngineHandle material, float x, float y, float z) {
    EngineState& state = State();
    const int meshNumber = HandleNumber(mesh, Kind::Mesh);
    const int materialNumber = HandleNumber(material, Kind::Material);
    if (!state.started || !ValidNumber(number) || meshNumber < 0 || materialNumber < 0)
        return 0;
    Entity entity;
    entity.mesh = meshNumber;
    entity.material = materialNumber;
    entity.position[0] = x;
    entity.position[1] = y;
    entity.position[2] = z;
    state.entities[number] = entity;
    return 1;
}

int CreateCamera(int number, float x, float y, float width, float height) {
    EngineState& state = State();
    if (!state.started || !ValidNumber(number))
        return 0;
    Camera camera;
    camera.viewport[0] = x;
    camera.viewport[1] = y;
    camera.viewport[2] = width;
    camera.viewport[3] = height;
    state.cameras[number] = camera;
    return 1;
}

void SetCameraFov(int number, float degrees) {
    // 0 and 180 degrees have no perspective; keep the last usable angle.
    Camera* camera = Find(State().cameras, number);
    if (camera != nullptr && degrees > 0 && degrees < 180)
        camera->fov = degrees;
}

// The mode selects nothing here: there is one way of drawing through a camera.
void SwitchCamera(int number, int) {
    State().activeCamera = number;
}

int CreateNode(int number, float x, float y, float z) {
    EngineState& state = State();
    if (!state.started || !ValidNumber(number))
        return 0;
    Node node;
    node.position[0] = x;
    node.position[1] = y;
    node.position[2] = z;
    state.nodes[number] = node;
    // A new node starts with nothing attached.
    for (auto& [cameraNumber, camera] : state.cameras) {
        if (camera.node == number)
            camera.node = -1;
    }
    return 1;
}

EngineHandle CameraHandle(int number) {
    return Find(State().cameras, number) ? MakeHandle(Kind::Camera, number) : nullptr;
}

void AttachObjectToNode(int node, EngineHandle object) {
    EngineState& state = State();
    Camera* camera = Find(state.cameras, HandleNumber(object, Kind::Camera));
    if (camera != nullptr && Find(state.nodes, node) != nullptr)
        camera->node = node;
}

void RotateNode(int number, float pitch, float yaw, float roll, int mode) {
    Node* node = Find(State().nodes, number);
    // A non-finite angle would poison the orientation for good.
    if (node == nullptr || !std::isfinite(pitch) || !std::isfinite(yaw) || !std::isfinite(roll))
        return;
    const Quaternion turn = FromAngles(pitch, yaw, roll);
    if (mode == 1)
        node->orientation = Normalized(Product(node->orientation, turn));
    else if (mode == 0)
        node->orientation = turn;
}

void RenderWorld() {
    EngineState& state = State();
    if (!state.started)
        return;
    GLint surface[4] = {};
    glGetIntegerv(GL_VIEWPORT, surface);
    glDepthMask(GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const Camera* camera = Find(state.cameras, state.activeCamera);
    if (camera == nullptr || state.entities.empty() || !EnsureProgram())
        return;
    // The camera's viewport is measured from the surface's top left; GL's from its bottom left.
    const float* percent = camera->viewport;
    const int width = int(std::lround(surface[2] * percent[2] / 100));
    const int height = int(std::lround(surface[3] * percent[3] / 100));
    const int left = surface[0] + int(std::lround(surface[2] * percent[0] / 100));
    const int bottom = surface[1] + surface[3] - int(std::lround(surface[3] * percent[1] / 100)) - height;
    if (width <= 0 || height <= 0)
        return;

    const Node* node = Find(state.nodes, camera->node);
    const Matrix view = node != nullptr ? ViewFrom(*node) : ViewFrom(Node {});
    const Matrix viewProjection = Multiply(Perspective(camera->fov, float(width) / float(height)), view);

    glViewport(left, bottom, width, height);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glDisable(GL_BLEND);
    glUseProgram(state.program);
    if (state.vertexArray != 0)
        glBindVertexArray(state.vertexArray);
    glActiveTexture(GL_TEXTURE0);
    glUniform1i(state.pictureUniform, 0);
    for (const auto& [number, entity] : state.entities)
        DrawEntity(entity, viewProjection);

    // Leave the surface as the caller set it: the next frame reads its size from GL_VIEWPORT.
    if (state.vertexArray != 0)
        glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glUseProgram(0);
    glDepthMask(GL_TRUE);
    glViewport(surface[0], surface[1], surface[2], surface[3]);
}

const VantaroEngine kInterface = {
    VANTARO_ENGINE_INTERFACE_VERSION,
    Init,
    Shutdown,
    ReleaseScene,
    AddResourceFolder,
    LoadMesh,
    LoadTexture,
    TextureHandle,
    CreateMaterial,
    DisableMaterialLighting,
    SetMaterialDepthWrite,
    SetMaterialFiltering,
    SetMaterialShading,
    MaterialHandle,
    MeshHandle,
    CreateEntity,
    CreateCamera,
    SetCameraFov,
    SwitchCamera,
    CreateNode,
    CameraHandle,
    AttachObjectToNode,
    RotateNode,
    RenderWorld,
};
} // namespace

} // namespace vantaro

extern "C" __attribute__((visibility("default"))) const VantaroEngine* VantaroEngineInterface() {
    return &vantaro::kInterface;
}
