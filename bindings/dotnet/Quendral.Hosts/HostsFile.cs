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

    /// <summary>A hosts file at <paramref name="path"/>; null (no path) for the system hosts file.</summary>
    /// <exception cref="ArgumentException">The path is empty (the library would take it for the
    /// system hosts file), or holds NUL or a character the library cannot take.</exception>
    public HostsFile(string? path = null)
    {
        if (path is { Length: 0 })
            throw new ArgumentException(EmptyPath, nameof(path));
        Path = path;
        encodedPath = NativeText.Encode(Path, nameof(path));
    }

    // The words qhosts uses for the same refusal.
    internal const string EmptyPath = "--file needs a non-empty path";
    internal const string NotLoaded = "records not loaded: call Load() on this HostsFile first";

    private bool modified;

    /// <summary>The file's path, or null for the system hosts file.</summary>
    public string? Path { get; }

    /// <summary>The library's version text, such as "1.0.0".</summary>
    public static string Version => Locked(() => NativeText.Decode(NativeMethods.hosts_version()));

    /// <summary>Reads the file into memory; a missing file loads as empty.</summary>
    /// <remarks>The library holds one hosts file per process. After this call every other
    /// <see cref="HostsFile"/> that had loaded is no longer loaded: its reads and edits throw
    /// <see cref="InvalidOperationException"/> until it loads again.</remarks>
    /// <exception cref="HostsException">The file could not be read; nothing is loaded then.</exception>
    /// <exception cref="UnauthorizedAccessException">The system refused access to the file.</exception>
    public void Load() => Locked(() =>
    {
        loadedBy = null;
        SelectPath();
        Check(NativeMethods.hosts_load(), Path);
        modified = false;
        loadedBy = this;
    });

    /// <summary>True when an edit changed the records since the last load or save: a save is needed.</summary>
    public bool IsModified => modified;

    /// <summary>The number of records loaded (one call into the library).</summary>
    /// <exception cref="InvalidOperationException">This object is not the last one that loaded.</exception>
    public int Count => Locked(() =>
    {
        EnsureLoaded();
        return NativeMethods.hosts_count();
    });

    /// <summary>All records in file order, read in one pass; a record's position is its
    /// <see cref="HostRecord.Index"/>. The list is a copy: it does not follow later edits.</summary>
    /// <exception cref="InvalidOperationException">This object is not the last one that loaded.</exception>
    public IReadOnlyList<HostRecord> GetRecords() => Locked(() =>
    {
        EnsureLoaded();
        return (IReadOnlyList<HostRecord>)All().AsReadOnly();
    });

    /// <summary>Every record, enabled or not, with the name (compared ignoring ASCII case)
    /// and/or the address (compared by value: 10.0.0.01 is 10.0.0.1), in file order.</summary>
    /// <exception cref="ArgumentException">Neither is given, or one is empty.</exception>
    public IReadOnlyList<HostRecord> Find(string? name = null, string? address = null)
    {
        var matches = Matcher(name, address);
        return Locked(() =>
        {
            EnsureLoaded();
            return (IReadOnlyList<HostRecord>)All().FindAll(matches).AsReadOnly();
        });
    }

    /// <summary>True when <see cref="Find"/> would find a record.</summary>
    public bool Contains(string? name = null, string? address = null) => Find(name, address).Count > 0;

    /// <summary>Adds an enabled record unless an enabled one with that name and address is
    /// there; returns the record either way (so a second call changes nothing).</summary>
    /// <exception cref="ArgumentException">The library refused the address, name or comment (its
    /// text says why), or a text holds NUL or a character the library cannot take; nothing was added.</exception>
    public HostRecord Add(string address, string name, string? comment = null)
    {
        var texts = Encoded(address, name, comment);
        var key = EditingModel.AddressKey(address);
        return Locked(() =>
        {
            EnsureLoaded();
            foreach (var record in All())
            {
                if (record.Enabled && EditingModel.SameName(record.Name, name) && EditingModel.AddressKey(record.Address) == key)
                    return record;
            }
            return Get(Append(texts));
        });
    }

    /// <summary>Leaves <paramref name="name"/> exactly one enabled record, at
    /// <paramref name="address"/>: the name's other enabled records are disabled, a disabled
    /// record at the address is enabled rather than a second added, and a
    /// <paramref name="comment"/> that differs from the kept record's writes it anew at the
    /// end. Returns the name's enabled record; when nothing needed to change, nothing changed.</summary>
    /// <exception cref="ArgumentException">The library refused the address, name or comment; nothing changed.</exception>
    public HostRecord Set(string address, string name, string? comment = null)
    {
        var texts = Encoded(address, name, comment);
        var note = comment is null ? null : EditingModel.Trimmed(comment);
        var key = EditingModel.AddressKey(address);
        return Locked(() =>
        {
            EnsureLoaded();
            var records = All();
            HostRecord? kept = null;
            foreach (var record in records)
            {
                if (EditingModel.SameName(record.Name, name) && EditingModel.AddressKey(record.Address) == key &&
                    (kept is null || (record.Enabled && !kept.Enabled)))
                    kept = record;
            }
            var anew = kept is null || (note is not null && note != kept.Comment);
            // What needs adding is added first: when the library refuses it, nothing changed.
            var added = anew ? Append(texts) : -1;
            foreach (var record in records)
            {
                if (record.Enabled && EditingModel.SameName(record.Name, name) && !ReferenceEquals(record, kept))
                    Change(record.Index, false);
            }
            if (kept is null)
                return Get(added);
            if (anew)
            {
                Check(NativeMethods.hosts_remove(kept.Index), null);
                return Get(added - 1);
            }
            if (!kept.Enabled)
                Change(kept.Index, true);
            return Get(kept.Index);
        });
    }

    /// <summary>Enables record <paramref name="index"/>.</summary>
    /// <exception cref="ArgumentOutOfRangeException">No record has that index.</exception>
    public void Enable(int index) => Edit(index, null, true);

    /// <summary>Enables <paramref name="record"/>, after checking that its index still holds that entry.</summary>
    public void Enable(HostRecord record) => Edit(RecordIndex(record), record, true);

    /// <summary>Disables (comments out) record <paramref name="index"/>.</summary>
    /// <exception cref="ArgumentOutOfRangeException">No record has that index.</exception>
    public void Disable(int index) => Edit(index, null, false);

    /// <summary>Disables <paramref name="record"/>, after checking that its index still holds that entry.</summary>
    public void Disable(HostRecord record) => Edit(RecordIndex(record), record, false);

    /// <summary>Removes record <paramref name="index"/>; later records move down by one.</summary>
    /// <exception cref="ArgumentOutOfRangeException">No record has that index.</exception>
    public void Remove(int index) => Edit(index, null, null);

    /// <summary>Removes <paramref name="record"/>, after checking that its index still holds that entry.</summary>
    public void Remove(HostRecord record) => Edit(RecordIndex(record), record, null);

    /// <summary>Enables every record with the name and/or address (as <see cref="Find"/> finds them).</summary>
    /// <returns>How many records matched; 0 when none did. Those already enabled stay as they are.</returns>
    public int EnableAll(string? name = null, string? address = null) => EditAll(name, address, true);

    /// <summary>Disables every record with the name and/or address (as <see cref="Find"/> finds them).</summary>
    /// <returns>How many records matched; 0 when none did.</returns>
    public int DisableAll(string? name = null, string? address = null) => EditAll(name, address, false);

    /// <summary>Removes every record with the name and/or address (as <see cref="Find"/> finds them).</summary>
    /// <returns>How many records matched and were removed; 0 when none did.</returns>
    public int RemoveAll(string? name = null, string? address = null) => EditAll(name, address, null);

    /// <summary>Replaces the file with the records and other lines held in memory.</summary>
    /// <exception cref="HostsException">The save failed; the file is then unchanged.
    /// <see cref="HostsException.Kind"/> is <see cref="HostsErrorKind.Changed"/> when another
    /// program changed the file since the load: load again and repeat the edit.</exception>
    /// <exception cref="UnauthorizedAccessException">The system refused access; the file is then
    /// unchanged and the message, the library's text, ends with a hint to run elevated (as root
    /// elsewhere).</exception>
    public void Save() => Locked(() =>
    {
        EnsureLoaded();
        SelectPath();
        Check(NativeMethods.hosts_save(), Path);
        modified = false;
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

    // true: enable, false: disable, null: remove.
    private void Edit(int index, HostRecord? expected, bool? enable) => Locked(() =>
    {
        EnsureLoaded();
        if (expected is not null)
        {
            var current = index >= 0 && index < NativeMethods.hosts_count() ? Get(index) : null;
            if (current is null || !current.IsSameEntry(expected))
                throw new InvalidOperationException(
                    $"record {index} is no longer {expected.Address} {expected.Name}: load the file again");
        }
        if (enable is null)
        {
            Check(NativeMethods.hosts_remove(index), null);
            modified = true;
        }
        else if (Get(index).Enabled != enable.Value)
        {
            Change(index, enable.Value);
        }
    });

    private int EditAll(string? name, string? address, bool? enable)
    {
        var matches = Matcher(name, address);
        return Locked(() =>
        {
            EnsureLoaded();
            var chosen = All().FindAll(matches);
            // From the last to the first, so that a removal moves none still to do.
            for (var i = chosen.Count - 1; i >= 0; i--)
            {
                var record = chosen[i];
                if (enable is null)
                {
                    Check(NativeMethods.hosts_remove(record.Index), null);
                    modified = true;
                }
                else if (record.Enabled != enable.Value)
                {
                    Change(record.Index, enable.Value);
                }
            }
            return chosen.Count;
        });
    }

    private void Change(int index, bool enable)
    {
        Check(NativeMethods.hosts_set_enabled(index, enable ? 1 : 0), null);
        modified = true;
    }

    private int Append((byte[] Address, byte[] Name, byte[]? Comment) texts)
    {
        int index;
        fixed (byte* ip = texts.Address, host = texts.Name, note = texts.Comment)
            index = Check(NativeMethods.hosts_add(ip, host, note), null);
        modified = true;
        return index;
    }

    private static (byte[] Address, byte[] Name, byte[]? Comment) Encoded(string address, string name, string? comment)
    {
        var note = comment is null ? null : EditingModel.Trimmed(comment);
        return (NativeText.Encode(address ?? throw new ArgumentNullException(nameof(address)), nameof(address))!,
            NativeText.Encode(name ?? throw new ArgumentNullException(nameof(name)), nameof(name))!,
            note is { Length: > 0 } ? NativeText.Encode(note, nameof(comment)) : null);
    }

    private static Predicate<HostRecord> Matcher(string? name, string? address)
    {
        if (name is null && address is null)
            throw new ArgumentException("give a name, an address or both");
        if (name is { Length: 0 })
            throw new ArgumentException("the name is empty", nameof(name));
        if (address is { Length: 0 })
            throw new ArgumentException("the address is empty", nameof(address));
        var key = address is null ? null : EditingModel.AddressKey(address);
        return record => (name is null || EditingModel.SameName(record.Name, name)) &&
                         (key is null || EditingModel.AddressKey(record.Address) == key);
    }

    private List<HostRecord> All()
    {
        var count = NativeMethods.hosts_count();
        var records = new List<HostRecord>(count);
        for (var index = 0; index < count; index++)
            records.Add(Get(index));
        return records;
    }

    private static int RecordIndex(HostRecord record) =>
        (record ?? throw new ArgumentNullException(nameof(record))).Index;

    private HostRecord Get(int index)
    {
        var json = NativeText.Decode(NativeMethods.hosts_get(index));
        if (json.Length == 0)
            throw Error(LastError(), null);
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
            throw new InvalidOperationException(NotLoaded);
    }

    private static int Check(int result, string? path)
    {
        if (result < 0)
            throw Error(LastError(), path);
        return result;
    }

    private static readonly string[] InputErrors =
    {
        "invalid ip: ", "invalid name: ", "ip is NULL or empty", "name is NULL or empty",
        "comment too long", "comment contains a line break", "path too long",
    };

    /// <summary>The exception for a library error text, of the kind the text tells.</summary>
    internal static Exception Error(string text, string? path)
    {
        foreach (var start in InputErrors)
        {
            if (text.StartsWith(start, StringComparison.Ordinal))
                return new ArgumentException(text);
        }
        if (text.StartsWith("index ", StringComparison.Ordinal) && text.Contains(" out of range (count "))
            return new ArgumentOutOfRangeException(null, text);
        if (text.EndsWith(" changed since it was loaded", StringComparison.Ordinal))
            return new HostsException(text, HostsErrorKind.Changed, path);
        if (RefusedAccess(text))
            return new UnauthorizedAccessException(text + "; " + ElevationHint);
        return new HostsException(text, path);
    }

    private static string LastError() => NativeText.Decode(NativeMethods.hosts_last_error());

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
