using Quendral.Hosts;

// Usage: Consumer HOSTS_FILE. Edits the file, reads it back, and names the native
// library the process loaded, relative to the program's folder.
var hosts = new HostsFile(args[0]);
hosts.Load();
hosts.Add("10.0.0.5", "build.lan", "CI runner");
hosts.Disable(0);
hosts.Save();

var again = new HostsFile(args[0]);
again.Load();
Console.WriteLine($"quendral-hosts {HostsFile.Version}");
foreach (var record in again.GetRecords())
    Console.WriteLine($"{record.Index} {(record.Enabled ? "enabled" : "disabled")} {record.Address} {record.Name} {record.Comment}".TrimEnd());
var native = File.ReadLines("/proc/self/maps")
    .Select(line => line.Split(' ', 6, StringSplitOptions.RemoveEmptyEntries))
    .Where(fields => fields.Length == 6 && fields[5].Contains("quendral-hosts"))
    .Select(fields => fields[5])
    .Distinct();
foreach (var path in native)
    Console.WriteLine($"native library: {Path.GetRelativePath(AppContext.BaseDirectory, path)}");
