using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.Runtime.InteropServices;
using System.Text.Json;

namespace Quendral.Hosts;

/// <summary>
/// A hosts file: by default the system's, or any file given by path. The library holds
/// one hosts file for the whole process, so every call takes one process-wide lock, and a
/// <see cref="HostsFile"/> touches the records in memory only when it was the last one to
/// load them.
/// </summary>
public sealed unsafe class HostsFile
{
    private static readonly object Gate = new();
    private static HostsFile? loadedBy;

    private readonly byte[]? encodedPath;

    /// <summary>A hosts file at <paramref name="path"/>; null or empty for the system hosts file.</summary>
    /// <exception cref="ArgumentException">The path holds NUL or a character the library cannot take.</exception>
    public HostsFile(string? path = null)
    {
        Path = string.IsNullOrEmpty(path) ? null : path;
        encodedPath = NativeText.Encode(Path, nameof(path));
    }

    /// <summary>The file's path, or null for the system hosts file.</summary>
    public string? Path { get; }

    /// <summary>The library's version text, such as "1.0.0".</summary>
    public static string Version => Locked(() => NativeText.Decode(NativeMethods.hosts_version()));

    /// <summary>Reads the file into memory; a missing file loads as empty.</summary>
    /// <exception cref="HostsException">The file could not be read; nothing is loaded then.</exception>
    public void Load() => Locked(() =>
    {
        loadedBy = null;
        SelectPath();
        Check(NativeMethods.hosts_load(), Path);
        loadedBy = this;
    });

    /// <summary>The number of records loaded.</summary>
    public int Count => Locked(() =>
    {
        EnsureLoaded();
        return NativeMethods.hosts_count();
    });

    /// <summary>All records in file order; a record's position is its <see cref="HostRecord.Index"/>.</summary>
    public IReadOnlyList<HostRecord> Records => Locked(() =>
    {
        EnsureLoaded();
        var count = NativeMethods.hosts_count();
        var records = new List<HostRecord>(count);
        for (var index = 0; index < count; index++)
            records.Add(Get(index));
        return (IReadOnlyList<HostRecord>)records.AsReadOnly();
    });

    /// <summary>Appends an enabled record and returns it as the library now holds it.</summary>
    /// <exception cref="ArgumentException">A text holds NUL or a character the library cannot take; nothing was added.</exception>
    /// <exception cref="HostsException">The library refused the record (its text says why); nothing was added.</exception>
    public HostRecord Add(string address, string name, string? comment = null)
    {
        var encodedAddress = NativeText.Encode(address ?? throw new ArgumentNullException(nameof(address)), nameof(address))!;
        var encodedName = NativeText.Encode(name ?? throw new ArgumentNullException(nameof(name)), nameof(name))!;
        var encodedComment = NativeText.Encode(comment, nameof(comment));
        return Locked(() =>
        {
            EnsureLoaded();
            int index;
            fixed (byte* ip = encodedAddress, host = encodedName, note = encodedComment)
                index = Check(NativeMethods.hosts_add(ip, host, note), null);
            return Get(index);
        });
    }

    /// <summary>Enables record <paramref name="index"/>.</summary>
    public void Enable(int index) => SetEnabled(index, null, true);

    /// <summary>Enables <paramref name="record"/>, after checking that its index still holds that entry.</summary>
    public void Enable(HostRecord record) => SetEnabled(RecordIndex(record), record, true);

    /// <summary>Disables (comments out) record <paramref name="index"/>.</summary>
    public void Disable(int index) => SetEnabled(index, null, false);

    /// <summary>Disables <paramref name="record"/>, after checking that its index still holds that entry.</summary>
    public void Disable(HostRecord record) => SetEnabled(RecordIndex(record), record, false);

    /// <summary>Removes record <paramref name="index"/>; later records move down by one.</summary>
    public void Remove(int index) => Edit(index, null, () => NativeMethods.hosts_remove(index));

    /// <summary>Removes <paramref name="record"/>, after checking that its index still holds that entry.</summary>
    public void Remove(HostRecord record)
    {
        var index = RecordIndex(record);
        Edit(index, record, () => NativeMethods.hosts_remove(index));
    }

    /// <summary>Replaces the file with the records and other lines held in memory.</summary>
    /// <exception cref="HostsException">The save failed; the file is then unchanged. When the
    /// system refused access, the message ends with a hint to run elevated (as root elsewhere)
    /// and the inner exception is an <see cref="UnauthorizedAccessException"/>.</exception>
    public void Save() => Locked(() =>
    {
        EnsureLoaded();
        SelectPath();
        if (NativeMethods.hosts_save() < 0)
            throw SaveFailed(LastError(), Path);
    });

    /// <summary>Flushes the system's DNS resolver cache.</summary>
    /// <returns>An empty text when the resolver's own call flushed; otherwise the library's
    /// note on why that call was not used while the fallback succeeded.</returns>
    /// <exception cref="HostsException">Neither way worked.</exception>
    public static string FlushDns() => Locked(() =>
    {
        Check(NativeMethods.hosts_flush_dns(), null);
        return LastError();
    });

    private void SetEnabled(int index, HostRecord? expected, bool enabled) =>
        Edit(index, expected, () => NativeMethods.hosts_set_enabled(index, enabled ? 1 : 0));

    private void Edit(int index, HostRecord? expected, Func<int> call) => Locked(() =>
    {
        EnsureLoaded();
        if (expected is not null)
        {
            var current = index >= 0 && index < NativeMethods.hosts_count() ? Get(index) : null;
            if (current is null || !current.IsSameEntry(expected))
                throw new HostsException(
                    $"record {index} is no longer {expected.Address} {expected.Name}: load the file again", Path);
        }
        Check(call(), null);
    });

    private static int RecordIndex(HostRecord record) =>
        (record ?? throw new ArgumentNullException(nameof(record))).Index;

    private HostRecord Get(int index)
    {
        var json = NativeText.Decode(NativeMethods.hosts_get(index));
        if (json.Length == 0)
            throw new HostsException(LastError());
        using var document = JsonDocument.Parse(json);
        var fields = document.RootElement;
        return new HostRecord(
            index,
            fields.GetProperty("ip").GetString() ?? string.Empty,
            fields.GetProperty("name").GetString() ?? string.Empty,
            fields.GetProperty("enabled").GetInt32() != 0,
            fields.GetProperty("comment").GetString() ?? string.Empty);
    }

    private void SelectPath()
    {
        fixed (byte* path = encodedPath)
            Check(NativeMethods.hosts_set_path(path), Path);
    }

    private void EnsureLoaded()
    {
        if (!ReferenceEquals(loadedBy, this))
            throw new HostsException("records not loaded: call Load() on this HostsFile first", Path);
    }

    private static int Check(int result, string? path)
    {
        if (result < 0)
            throw new HostsException(LastError(), path);
        return result;
    }

    private static string LastError() => NativeText.Decode(NativeMethods.hosts_last_error());

    internal static HostsException SaveFailed(string error, string? path) =>
        RefusedAccess(error)
            ? new HostsException(error + "; " + ElevationHint, path, new UnauthorizedAccessException(error))
            : new HostsException(error, path);

    internal static string ElevationHint => RuntimeInformation.IsOSPlatform(OSPlatform.Windows)
        ? "the system refused access: run the program elevated (Run as administrator)"
        : "the system refused access: run the program as root (for example with sudo)";

    // The library's text ends in the system's own words for the error, which are
    // the words this process gets for the same code: access denied on Windows,
    // EACCES or EPERM elsewhere.
    internal static bool RefusedAccess(string error)
    {
        var codes = RuntimeInformation.IsOSPlatform(OSPlatform.Windows) ? new[] { 5 } : new[] { 13, 1 };
        foreach (var code in codes)
        {
            var words = new Win32Exception(code).Message.TrimEnd(' ', '.', '\r', '\n');
            if (words.Length > 0 && error.EndsWith(": " + words, StringComparison.Ordinal))
                return true;
        }
        return false;
    }

    // A DLL of another architecture than the process's: the package carries x64 builds only.
    internal static HostsException NotUsable(Exception error) => new(
        error is BadImageFormatException
            ? $"quendral-hosts library not usable: this package carries the x64 library; this process is {RuntimeInformation.ProcessArchitecture.ToString().ToLowerInvariant()}"
            : $"quendral-hosts library not usable: {error.Message}",
        null, error);

    private static void Locked(Action action) => Locked(() =>
    {
        action();
        return 0;
    });

    // One lock for the library's single state; it also keeps a call together with the
    // hosts_last_error() that explains it.
    private static T Locked<T>(Func<T> body)
    {
        lock (Gate)
        {
            try
            {
                return body();
            }
            catch (Exception error) when (error is DllNotFoundException or EntryPointNotFoundException or BadImageFormatException)
            {
                throw NotUsable(error);
            }
        }
    }
}
