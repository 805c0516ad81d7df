using System.Runtime.InteropServices;

#if NET7_0_OR_GREATER
using System.Runtime.CompilerServices;

// Every signature is blittable (ints and byte pointers), so no marshalling
// code runs at all: texts are encoded and copied by NativeText.
[assembly: DisableRuntimeMarshalling]
#endif

// The native library is looked for beside this assembly (and, for kernel32,
// in System32), never in the current folder or along PATH, where a planted
// quendral-hosts.dll would be loaded instead. The package's runtimes/ folder
// is searched first in any case, from the application's deps.json.
[assembly: DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]

namespace Quendral.Hosts;

/// <summary>The library's C functions. Texts go in and come out as byte pointers;
/// returned texts belong to the library and are copied, never freed.</summary>
internal static unsafe partial class NativeMethods
{
    // "quendral-hosts.dll" on Windows, "libquendral-hosts.so" elsewhere.
    private const string Library = "quendral-hosts";

#if NET7_0_OR_GREATER
    [LibraryImport(Library)] internal static partial int hosts_set_path(byte* path);
    [LibraryImport(Library)] internal static partial byte* hosts_version();
    [LibraryImport(Library)] internal static partial byte* hosts_last_error();
    [LibraryImport(Library)] internal static partial int hosts_count();
    [LibraryImport(Library)] internal static partial int hosts_load();
    [LibraryImport(Library)] internal static partial byte* hosts_get(int index);
    [LibraryImport(Library)] internal static partial int hosts_add(byte* ip, byte* name, byte* comment);
    [LibraryImport(Library)] internal static partial int hosts_set_enabled(int index, int enabled);
    [LibraryImport(Library)] internal static partial int hosts_remove(int index);
    [LibraryImport(Library)] internal static partial int hosts_save();
    [LibraryImport(Library)] internal static partial int hosts_flush_dns();
    [LibraryImport("kernel32.dll")] internal static partial uint GetACP();
#else
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_set_path(byte* path);
    [DllImport(Library, ExactSpelling = true)] internal static extern byte* hosts_version();
    [DllImport(Library, ExactSpelling = true)] internal static extern byte* hosts_last_error();
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_count();
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_load();
    [DllImport(Library, ExactSpelling = true)] internal static extern byte* hosts_get(int index);
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_add(byte* ip, byte* name, byte* comment);
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_set_enabled(int index, int enabled);
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_remove(int index);
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_save();
    [DllImport(Library, ExactSpelling = true)] internal static extern int hosts_flush_dns();
    [DllImport("kernel32.dll", ExactSpelling = true)] internal static extern uint GetACP();
#endif
}
