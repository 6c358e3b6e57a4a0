# The engine's window, managers and staged sample content, in process: 2D drawing blended by its
# materials over the sample scene, and a refused material parsed once however often it is drawn.
quill_add_tests(render/material/engine LIBS quill_system ENGINE STAGED)
