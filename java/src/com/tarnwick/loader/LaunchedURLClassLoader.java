package com.tarnwick.loader;

import com.tarnwick.loader.jar.Handler;

import java.io.File;
import java.io.IOException;
import java.net.URL;
import java.net.URLClassLoader;
import java.security.CodeSource;
import java.security.Permission;
import java.security.PermissionCollection;
import java.util.ArrayList;
import java.util.Collections;
import java.util.Enumeration;
import java.util.List;
import java.util.Set;
import java.util.jar.Manifest;

/**
 * Class loader over the application's archives: jars nested in the launcher's
 * archive, its directories such as "BOOT-INF/classes/", and jars and
 * directories on disk.
 *
 * It answers from the archives' directories itself instead of going through
 * URL connections, which keeps a class load to one lookup and one read. URLs it
 * cannot serve (another scheme) go to the URLClassLoader base, after its own.
 *
 * Native code of a subclass calls findResource and findResources of this class
 * non-virtually, so neither may route back through an overridable method.
 */
public class LaunchedURLClassLoader extends URLClassLoader {

    static {
        ClassLoader.registerAsParallelCapable();
    }

    private final List<URL> urls = new ArrayList<URL>();
    private volatile ClassPathRoot[] roots = new ClassPathRoot[0];
    private volatile boolean hasForeignUrls;

    /**
     * What the parent can define, when that is known; null while every class
     * goes to the parent first. See {@link #knowParentClasses}.
     */
    private volatile ParentClasses parentClasses;

    /**
     * @throws IllegalStateException when a nested archive cannot be opened, for
     *     example a nested jar that was compressed
     */
    public LaunchedURLClassLoader(URL[] urls, ClassLoader parent) {
        super(new URL[0], parent);
        Handler.register();
        for (URL url : urls) {
            addURL(url);
        }
    }

    @Override
    protected void addURL(URL url) {
        ClassPathRoot root = openRoot(url);
        synchronized (urls) {
            urls.add(url);
            if (root != null) {
                ClassPathRoot[] grown = new ClassPathRoot[roots.length + 1];
                System.arraycopy(roots, 0, grown, 0, roots.length);
                grown[roots.length] = root;
                roots = grown;
            }
        }
        if (root == null && !isLocal(url)) {
            hasForeignUrls = true;
            super.addURL(url);
        }
    }

    @Override
    public URL[] getURLs() {
        synchronized (urls) {
            return urls.toArray(new URL[0]);
        }
    }

    private static boolean isLocal(URL url) {
        return "file".equalsIgnoreCase(url.getProtocol());
    }

    /**
     * The root for a class-path URL: an archive for "jar:file:...!/" URLs and
     * jar files, a directory root for directories. Null for a file that does
     * not exist or is not an archive (skipped, as the JDK skips them) and for
     * other schemes (left to the base class).
     */
    private static ClassPathRoot openRoot(URL url) {
        String protocol = url.getProtocol();
        String file = url.getFile();
        if ("jar".equalsIgnoreCase(protocol)) {
            if (file == null || !file.endsWith(ZipRoot.SEPARATOR) || !file.regionMatches(true, 0, "file:", 0, 5)) {
                return null;
            }
            try {
                return ZipRoot.of(file.substring(0, file.length() - ZipRoot.SEPARATOR.length()));
            } catch (IOException e) {
                throw Failures.illegalState("Unable to open class-path archive " + url + ": " + e.getMessage(), e);
            }
        }
        if (isLocal(url)) {
            File path = ZipRoot.toFile(url.toString());
            try {
                if (path.isDirectory()) {
                    return DirectoryRoot.open(path);
                }
                if (path.isFile()) {
                    return ZipRoot.of(ZipRoot.fileUrlText(path)).asFileEntry(url);
                }
            } catch (IOException e) {
                return null;
            }
        }
        return null;
    }

    /**
     * Lets classes that only this loader's archives hold be defined without
     * asking the parent first. Asking costs a ClassNotFoundException, made and
     * thrown by the JDK's application loader, for each such class, and that is
     * the largest single cost of loading an application's classes. The answer
     * stays the parent's for every class the parent could define: one of the
     * JVM's class path (|classPath|, the parent's), or of a package of the
     * runtime's modules.
     *
     * The caller vouches that nothing else adds classes to the parent: no
     * agent and no boot class-path option. Without the JDK's own application
     * loader as parent, or with a boot class path appended, nothing changes.
     */
    protected final void knowParentClasses(String classPath) {
        ClassLoader parent = getParent();
        String appended = System.getProperty("jdk.boot.class.path.append", "");
        if (parent == null || !parent.getClass().getName().equals("jdk.internal.loader.ClassLoaders$AppClassLoader")
                || !appended.isEmpty()) {
            return;
        }
        List<ClassPathRoot> parentRoots = new ArrayList<ClassPathRoot>();
        for (String piece : classPath.split(File.pathSeparator, -1)) {
            // An empty entry is the current directory to the JDK.
            File entry = new File(piece.isEmpty() ? "." : piece);
            try {
                // Canonical, as the JDK opens its class path: the executable's
                // archive is then the one already open, not read again.
                entry = entry.getCanonicalFile();
                ClassPathRoot root = openRoot(new URL(ZipRoot.fileUrlText(entry)));
                if (root != null) {
                    parentRoots.add(root);
                } else if (entry.exists()) {
                    return;  // not a jar the JDK would skip for certain: keep asking
                }
            } catch (IOException | RuntimeException e) {
                return;
            }
        }
        parentClasses = new ParentClasses(this, parentRoots.toArray(new ClassPathRoot[0]));
    }

    @Override
    protected Class<?> loadClass(String name, boolean resolve) throws ClassNotFoundException {
        ParentClasses parent = parentClasses;
        if (parent != null && !hasForeignUrls) {
            synchronized (getClassLoadingLock(name)) {
                Class<?> loaded = findLoadedClass(name);
                if (loaded == null && !parent.mayDefine(name, name.replace('.', '/').concat(".class"))) {
                    try {
                        loaded = findClass(name);
                    } catch (ClassNotFoundException e) {
                        // Nobody's, or the parent's after all (one defined into it
                        // at run time): the parent is asked as ever.
                    }
                }
                if (loaded != null) {
                    if (resolve) {
                        resolveClass(loaded);
                    }
                    return loaded;
                }
            }
        }
        return super.loadClass(name, resolve);
    }

    @Override
    protected Class<?> findClass(String name) throws ClassNotFoundException {
        String path = name.replace('.', '/').concat(".class");
        for (ClassPathRoot root : roots) {
            byte[] bytes;
            try {
                bytes = root.read(path);
            } catch (IOException e) {
                throw new ClassNotFoundException(name, e);
            }
            if (bytes != null) {
                return define(name, path, bytes, root);
            }
        }
        if (hasForeignUrls) {
            return super.findClass(name);
        }
        throw new ClassNotFoundException(name);
    }

    private Class<?> define(String name, String path, byte[] bytes, ClassPathRoot root) {
        int dot = name.lastIndexOf('.');
        if (dot > 0) {
            definePackageOnce(name.substring(0, dot), root);
        }
        return defineClass(name, bytes, 0, bytes.length, root.codeSource(path));
    }

    /** Defines a package from the manifest of the root its first class came from. */
    @SuppressWarnings("deprecation")
    private void definePackageOnce(String packageName, ClassPathRoot root) {
        if (getPackage(packageName) != null) {
            return;
        }
        Manifest manifest = root.manifest();
        try {
            if (manifest != null) {
                definePackage(packageName, manifest, root.url());
            } else {
                definePackage(packageName, null, null, null, null, null, null, null);
            }
        } catch (IllegalArgumentException e) {
            // Another thread defined it first; that definition stands.
        }
    }

    @Override
    public URL findResource(String name) {
        for (ClassPathRoot root : roots) {
            if (root.contains(name)) {
                try {
                    return root.resourceUrl(name);
                } catch (IOException e) {
                    return null;
                }
            }
        }
        return hasForeignUrls ? super.findResource(name) : null;
    }

    @Override
    public Enumeration<URL> findResources(String name) throws IOException {
        List<URL> found = new ArrayList<URL>();
        for (ClassPathRoot root : roots) {
            if (root.contains(name)) {
                found.add(root.resourceUrl(name));
            }
        }
        if (hasForeignUrls) {
            Enumeration<URL> more = super.findResources(name);
            while (more.hasMoreElements()) {
                found.add(more.nextElement());
            }
        }
        return Collections.enumeration(found);
    }

    /**
     * The permissions of a code source, worked out when first asked for. The
     * base class works them out at once, which opens a URL connection and makes
     * a file permission; the first file permission reads the security
     * properties, which costs milliseconds of every start although without a
     * security manager nothing asks.
     */
    @Override
    protected PermissionCollection getPermissions(CodeSource codeSource) {
        return new LazyPermissions(this, codeSource);
    }

    private PermissionCollection basePermissions(CodeSource codeSource) {
        return super.getPermissions(codeSource);
    }

    /**
     * The packages of the modules of the boot layer, whose classes only the
     * parent may define; null when they are not known, and then the parent
     * is asked for every class. A subclass that can list them cheaply says
     * so here: by reflection it costs milliseconds (the generated accessor of
     * a method called once per module), more than it would save.
     */
    protected Set<String> bootLayerPackages() {
        return null;
    }

    /**
     * The classes the JDK's application loader can define: those of the
     * packages of the runtime's modules, and those its class path holds.
     * Classes defined into it at run time are not known here.
     */
    private static final class ParentClasses {
        private final LaunchedURLClassLoader loader;
        private final ClassPathRoot[] classPath;
        /** Read without a lock on every class once collected; collected under one. */
        private volatile Set<String> modulePackages;
        private boolean unknowable;

        ParentClasses(LaunchedURLClassLoader loader, ClassPathRoot[] classPath) {
            this.loader = loader;
            this.classPath = classPath;
        }

        /** Whether the parent may define the class; true wherever that is not known. */
        boolean mayDefine(String name, String path) {
            Set<String> packages = modulePackages;
            if (packages == null && (packages = collectOnce()) == null) {
                return true;
            }
            int dot = name.lastIndexOf('.');
            if (packages.contains(dot < 0 ? "" : name.substring(0, dot))) {
                return true;
            }
            for (ClassPathRoot root : classPath) {
                if (root.contains(path)) {
                    return true;
                }
            }
            return false;
        }

        private synchronized Set<String> collectOnce() {
            if (modulePackages == null && !unknowable) {
                modulePackages = loader.bootLayerPackages();
                unknowable = modulePackages == null;
            }
            return modulePackages;
        }
    }

    /**
     * Permissions that the class loader works out on first use. Serialised as
     * the worked-out collection, since the loader cannot be.
     */
    private static final class LazyPermissions extends PermissionCollection {
        private static final long serialVersionUID = 1L;

        private final transient LaunchedURLClassLoader loader;
        private final transient CodeSource codeSource;
        private transient PermissionCollection resolved;

        LazyPermissions(LaunchedURLClassLoader loader, CodeSource codeSource) {
            this.loader = loader;
            this.codeSource = codeSource;
        }

        private synchronized PermissionCollection resolved() {
            if (resolved == null) {
                resolved = loader.basePermissions(codeSource);
            }
            return resolved;
        }

        @Override
        public void add(Permission permission) {
            PermissionCollection target = resolved();
            if (isReadOnly()) {
                // Read-only for good: the worked-out collection refuses the addition.
                target.setReadOnly();
            }
            target.add(permission);
        }

        @Override
        public boolean implies(Permission permission) {
            return resolved().implies(permission);
        }

        @Override
        public Enumeration<Permission> elements() {
            return resolved().elements();
        }

        @Override
        public String toString() {
            return resolved().toString();
        }

        private Object writeReplace() {
            PermissionCollection target = resolved();
            if (isReadOnly()) {
                target.setReadOnly();
            }
            return target;
        }
    }
}
