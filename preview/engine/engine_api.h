/* The 3D engine component's interface: plain C, one exported entry point.
   The program loads the component at run time and accepts it only when interfaceVersion is
   VANTARO_ENGINE_INTERFACE_VERSION. Objects are addressed by small numbers; making an object again
   under a number in use replaces it. Handles are opaque values the engine returns for a number.
   Drawing goes to the OpenGL context current at the call; the render surface sets glViewport to
   its pixel size before RenderWorld, and the engine takes the aspect ratio from GL_VIEWPORT. */
#ifndef VANTARO_ENGINE_API_H
#define VANTARO_ENGINE_API_H

#ifdef __cplusplus
extern "C" {
#endif

#define VANTARO_ENGINE_INTERFACE_VERSION 520
#define VANTARO_ENGINE_ENTRY_POINT "VantaroEngineInterface"
/* The component's file, in the program's own folder. */
#define VANTARO_ENGINE_LIBRARY_NAME "libvantaro_engine.so"

typedef void* EngineHandle;

typedef struct VantaroEngine {
    int interfaceVersion;
    /* 1 when the engine started; needs no GL context. */
    int (*Init)(void);
    /* Frees every object (GL objects only while a context is current) and the folders. */
    void (*Shutdown)(void);
    /* Frees the objects that live in the current GL context; called before that context goes. */
    void (*ReleaseScene)(void);

    /* 1: later loads by bare file name also search this folder (kind 0: a plain folder). */
    int (*AddResourceFolder)(const char* folder, int kind);
    /* Non-zero when loaded. Names are looked up in the registered folders, in order. */
    int (*LoadMesh)(int mesh, const char* fileName);
    int (*LoadTexture)(int texture, const char* fileName);
    EngineHandle (*TextureHandle)(int texture);
    int (*CreateMaterial)(int material, EngineHandle texture);
    void (*DisableMaterialLighting)(int material, int disable);
    void (*SetMaterialDepthWrite)(int material, int enable);
    /* Mode 3 with level 8: mipmapped trilinear filtering, 8x anisotropy where offered. */
    void (*SetMaterialFiltering)(int material, int mode, int level);
    /* Code 36: solid, unlit, textured. */
    void (*SetMaterialShading)(int material, int code);
    EngineHandle (*MaterialHandle)(int material);
    EngineHandle (*MeshHandle)(int mesh);
    int (*CreateEntity)(int entity, EngineHandle mesh, EngineHandle material, float x, float y, float z);
    /* Viewport in percent of the render surface. */
    int (*CreateCamera)(int camera, float x, float y, float width, float height);
    /* Vertical field of view in degrees. */
    void (*SetCameraFov)(int camera, float degrees);
    void (*SwitchCamera)(int camera, int mode);
    int (*CreateNode)(int node, float x, float y, float z);
    EngineHandle (*CameraHandle)(int camera);
    void (*AttachObjectToNode)(int node, EngineHandle object);
    /* Mode 1: relative to the current orientation. Right-handed, Y up: a positive yaw turns left. */
    void (*RotateNode)(int node, float pitch, float yaw, float roll, int mode);
    void (*RenderWorld)(void);
} VantaroEngine;

/* The exported entry point; never null. */
typedef const VantaroEngine* (*VantaroEngineEntry)(void);

#ifdef __cplusplus
}
#endif

#endif
