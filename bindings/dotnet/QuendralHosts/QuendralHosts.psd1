@{
    RootModule           = 'QuendralHosts.psm1'
    ModuleVersion        = '1.0.0'
    GUID                 = '868205c7-ba54-4173-a99c-c9820ee40cf6'
    Author               = 'The quendral-hosts developers'
    Copyright            = '(c) 2026 The quendral-hosts developers. MIT License.'
    Description          = 'Lists, tests, adds, sets, enables, disables and removes hosts file entries through the quendral-hosts library, and clears the DNS resolver cache.'
    # The binding's netstandard2.0 build: PowerShell 7.4 and later, and Windows PowerShell 5.1.
    PowerShellVersion    = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    RequiredAssemblies   = @('Quendral.Hosts.dll')
    FormatsToProcess     = @('QuendralHosts.format.ps1xml')
    FunctionsToExport    = @(
        'Get-HostsEntry', 'Test-HostsEntry', 'Add-HostsEntry', 'Set-HostsEntry', 'Enable-HostsEntry',
        'Disable-HostsEntry', 'Remove-HostsEntry', 'Clear-HostsResolverCache')
    CmdletsToExport      = @()
    VariablesToExport    = @()
    AliasesToExport      = @()
    PrivateData          = @{
        PSData = @{
            Tags       = @('hosts', 'dns', 'Windows', 'Linux')
            LicenseUri = 'https://opensource.org/license/mit'
        }
    }
}
